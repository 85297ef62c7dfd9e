-- A seeded fuzzer that runs as the host's Lua application. It finds the classes and functions of
-- every native module at run time, keeps a pool of live (and dead) handles, and calls random
-- functions with hostile arguments in small batches from a timer, so paints, resizes and deferred
-- deletes happen in between. Event handlers, timer callbacks and __deleted act on their objects
-- too. Every action is printed before it is made; stdout is unbuffered, so the last `fuzz N:`
-- line before a crash names the culprit.
--
--   REMOTE_FUZZ_SEED   the seed (default 1); the same seed makes the same main call sequence
--   REMOTE_FUZZ_CALLS  how many main calls to make (default 2000)
--   REMOTE_FUZZ_EVENTS 0 keeps event handlers, timers and __deleted from acting (for narrowing a
--                      fault down to the main calls)
--
-- Ends with `fuzz done seed S calls N` and closes the main window (exit code 0); a run whose
-- resident memory passes 2 GiB prints `fuzz runaway memory ...` and exits with 3.

local qt = require 'qt.core'

io.stdout:setvbuf('no')

local pcall, type, rawget, rawequal, rawlen, select = pcall, type, rawget, rawequal, rawlen, select
local getmeta = debug.getmetatable
local format, concat, unpack = string.format, table.concat, table.unpack
local out = io.stdout

local function envInteger(name, default)
    local value = math.tointeger(tonumber(os.getenv(name) or ''))
    return value or default
end

local SEED = envInteger('REMOTE_FUZZ_SEED', 1)
local CALLS = envInteger('REMOTE_FUZZ_CALLS', 2000)
local EVENTS = envInteger('REMOTE_FUZZ_EVENTS', 1) ~= 0
local ACT_TMP = envInteger('REMOTE_FUZZ_ACT', -1) -- TEMPORARY
local MEMORY_LIMIT = 2 * 1024 * 1024 * 1024
local POOL_SIZE = 96
local DEAD_SIZE = 32

local calls = 0
local finishing = false
local shuttingDown = false
local depth = 0 -- handlers running inside handlers
local nest = 0  -- modal loops open
local painting = 0 -- paint events running
local geometryEvents = 0 -- move and resize events running
local closing = 0 -- close events running

local function say(line)
    out:write(line .. '\n')
end

-- Random numbers: xorshift64 on Lua integers. The main stream drives the calls and is the same
-- for the same seed; events and timers come at times the seed does not fix, so they draw from a
-- stream of their own and leave the main one alone.
local function newRandom(seed)
    local s = (seed * 0x9E3779B97F4A7C15 + 0x632BE59BD9B4E019) | 1
    local function nextValue()
        s = s ~ (s << 13)
        s = s ~ (s >> 7)
        s = s ~ (s << 17)
        return s
    end
    for _ = 1, 8 do
        nextValue()
    end
    local g = {}
    function g.int(n) -- 1..n
        return (nextValue() >> 1) % n + 1
    end
    function g.range(a, b)
        return a + g.int(b - a + 1) - 1
    end
    function g.chance(p)
        return ((nextValue() >> 11) * 2.0 ^ -53) < p
    end
    function g.pick(list)
        return list[g.int(#list)]
    end
    return g
end

local rng = newRandom(SEED)
local erng = newRandom(SEED ~ 0x5DEECE66D)

------------------------------------------------------------------------------------------------
-- Discovery: qt.core, every other loaded or preloadable module whose name ends in ".core", and
-- every class registered in the registry (some are reachable only through their handles).

local modules = {} -- name -> table
do
    modules['qt.core'] = qt
    local names = {}
    for name in pairs(package.preload) do
        if type(name) == 'string' and name:sub(-5) == '.core' then
            names[#names + 1] = name
        end
    end
    for name in pairs(package.loaded) do
        if type(name) == 'string' and name:sub(-5) == '.core' then
            names[#names + 1] = name
        end
    end
    table.sort(names)
    for _, name in ipairs(names) do
        if not modules[name] then
            local ok, module = pcall(require, name)
            if ok and type(module) == 'table' then
                modules[name] = module
            else
                say('fuzz: module ' .. name .. ' does not load: ' .. tostring(module))
            end
        end
    end
end

local classes = {} -- class name -> class table
local classNames = {}
local labels = setmetatable({}, {__mode = 'k'}) -- tables and functions -> printable name

local function addClass(t, where)
    local name = rawget(t, '__classname')
    if type(name) ~= 'string' or classes[name] then
        return
    end
    classes[name] = t
    classNames[#classNames + 1] = name
    labels[t] = where or name
end

local moduleNames = {}
for name, module in pairs(modules) do
    moduleNames[#moduleNames + 1] = name
    labels[module] = name
end
table.sort(moduleNames)
for _, name in ipairs(moduleNames) do
    local keys = {}
    for k, v in pairs(modules[name]) do
        if type(k) == 'string' and type(v) == 'table' then
            keys[#keys + 1] = k
        end
    end
    table.sort(keys)
    for _, k in ipairs(keys) do
        addClass(modules[name][k])
    end
end
do
    local registry = debug.getregistry()
    local found = {}
    for _, v in pairs(registry) do
        if type(v) == 'table' and type(rawget(v, '__classname')) == 'string' then
            found[#found + 1] = v
        end
    end
    table.sort(found, function(a, b) return rawget(a, '__classname') < rawget(b, '__classname') end)
    for _, t in ipairs(found) do
        addClass(t)
    end
end
table.sort(classNames)

-- Each class with the names of its bases (a class's metatable's __index is its base).
local ancestors = {}
for _, name in ipairs(classNames) do
    local set = {}
    local c = classes[name]
    for _ = 1, 32 do
        local n = type(c) == 'table' and rawget(c, '__classname')
        if type(n) ~= 'string' then
            break
        end
        set[n] = true
        local m = getmeta(c)
        c = m and rawget(m, '__index')
    end
    ancestors[name] = set
end

local function classOf(v)
    if type(v) ~= 'userdata' then
        return nil
    end
    local m = getmeta(v)
    local name = m and rawget(m, '__classname')
    return type(name) == 'string' and name or nil
end

local function isa(v, className)
    local name = classOf(v)
    return name ~= nil and ancestors[name] ~= nil and ancestors[name][className] == true
end

-- Functions the fuzzer must not call at random: they open modal loops that nothing headless
-- would ever close. The controlled patterns below open them with a timer that ends them.
local modalNames = {msgBox = true, exec = true, chooseFile = true}
-- Names the fuzzer gives its own hooks; keys it never lets a random call overwrite.
local reservedKeys = {onTimeout = true, __deleted = true}

local functions = {} -- {label, fn, class, name, want = {pos -> kind}, arity}
local creators = {}
local byClass = {} -- class name -> the entries callable on its handles

local function newEntry(label, fn, className, name)
    local entry = {label = label, fn = fn, class = className, name = name, want = {}, arity = 0}
    functions[#functions + 1] = entry
    if name == 'create' then
        creators[#creators + 1] = entry
    end
    labels[fn] = labels[fn] or label
    return entry
end

for _, name in ipairs(moduleNames) do
    local keys = {}
    for k, v in pairs(modules[name]) do
        if type(k) == 'string' and type(v) == 'function' and not modalNames[k] then
            keys[#keys + 1] = k
        end
    end
    table.sort(keys)
    for _, k in ipairs(keys) do
        newEntry(name .. '.' .. k, modules[name][k], nil, k)
    end
end

-- A derived class holds copies of its bases' functions: each function is one entry, labelled
-- with the most basic class that has it, and callable on the handles of every class that has it.
do
    local holders = {} -- fn -> {{class, key}...}
    local order = {}
    for _, className in ipairs(classNames) do
        local t = classes[className]
        local keys = {}
        for k, v in pairs(t) do
            if type(k) == 'string' and type(v) == 'function' and not modalNames[k] and
                not reservedKeys[k] then
                keys[#keys + 1] = k
            end
        end
        table.sort(keys)
        for _, k in ipairs(keys) do
            local fn = t[k]
            if not holders[fn] then
                holders[fn] = {}
                order[#order + 1] = fn
            end
            local list = holders[fn]
            list[#list + 1] = {className, k}
        end
    end
    local function depthOf(className)
        local n = 0
        for _ in pairs(ancestors[className]) do
            n = n + 1
        end
        return n
    end
    for _, fn in ipairs(order) do
        local best
        for _, holder in ipairs(holders[fn]) do
            if not best or depthOf(holder[1]) < depthOf(best[1]) then
                best = holder
            end
        end
        local entry = newEntry(best[1] .. '.' .. best[2], fn, best[1], best[2])
        for _, holder in ipairs(holders[fn]) do
            byClass[holder[1]] = byClass[holder[1]] or {}
            local list = byClass[holder[1]]
            list[#list + 1] = entry
        end
    end
end

-- The fuzzer's own uses of the API, taken before anything random runs.
local QObject, QWidget, QDialog, Timer = qt.QObject, qt.QWidget, qt.QDialog, qt.Timer
local api = {
    destroy = QObject.destroy,
    setParent = QWidget.setParent,
    hide = QWidget.hide,
    close = QWidget.close,
    widgetCreate = QWidget.create,
    msgBox = QWidget.msgBox,
    dialogCreate = QDialog.create,
    exec = QDialog.exec,
    done = QDialog.done,
    timerCreate = Timer.create,
    start = Timer.start,
    stop = Timer.stop,
    setTimeout = Timer.setTimeout,
    setSingleShot = Timer.setSingleShot,
    chooseFile = qt.chooseFile,
}

------------------------------------------------------------------------------------------------
-- Printing values: short, one line, and without running any metamethod.

local ids = setmetatable({}, {__mode = 'k'})
local nextId = 0

local function handleId(h)
    local id = ids[h]
    if not id then
        nextId = nextId + 1
        id = nextId
        ids[h] = id
    end
    return id
end

-- Strings print as Lua literals; only the long generated ones are cut, with their length.
local function quote(s)
    local short = #s > 64 and s:sub(1, 20) or s
    local text = '"' .. short:gsub('[%c"\\\128-\255]', function(c)
        return format('\\%03d', c:byte())
    end) .. '"'
    if #s > 64 then
        text = text .. '..(' .. #s .. ')'
    end
    return text
end

local describe

function describe(v)
    local t = type(v)
    if t == 'number' then
        if math.type(v) == 'integer' then
            return format('%d', v)
        elseif v ~= v then
            return 'nan'
        elseif v == math.huge then
            return 'inf'
        elseif v == -math.huge then
            return '-inf'
        end
        return format('%.17g', v)
    elseif t == 'string' then
        return quote(v)
    elseif t == 'userdata' then
        return format('<%s#%d>', classOf(v) or 'userdata', handleId(v))
    elseif t == 'table' and labels[v] == '{rect}' then
        return format('{x=%s, y=%s, w=%s, h=%s}', describe(rawget(v, 'x')), describe(rawget(v, 'y')),
            describe(rawget(v, 'w')), describe(rawget(v, 'h')))
    elseif t == 'table' or t == 'function' then
        return labels[v] or ('<' .. t .. '>')
    end
    return tostring(v)
end

local function describeCall(label, args)
    local parts = {}
    for i = 1, math.min(args.n, 16) do
        parts[i] = describe(args[i])
    end
    if args.n > 16 then
        parts[#parts + 1] = format('...%d more', args.n - 16)
    end
    return label .. '(' .. concat(parts, ', ') .. ')'
end

-- Faults being fixed, stepped around while looking past them: {name, function(entry, args,
-- context) -> true to skip}. Empty when every known fault is fixed.
local knownFaults = {}
local observe = nil
-- TEMPORARY-KNOWN-BEGIN
local parentOf = setmetatable({}, {__mode = 'k'})
local activeEvents = 0
local function loops(a, b) local p = b for _ = 1, 64 do if p == nil then return false end if rawequal(p, a) then return true end p = parentOf[p] end return false end
local floated = setmetatable({}, {__mode = 'k'})
observe = function(e, a, r)
    if e.name == 'setFloating' then floated[a[1]] = true end
    if e.name == 'create' and r[2] ~= nil and isa(a[1], 'QWidget') then parentOf[r[2]] = a[1] end
    if e.name == 'setParent' then parentOf[a[1]] = a[2] end
    if e.name == 'insertWidget' then parentOf[a[2]] = a[1] end
end
local function cprefix(v) return type(v) == 'string' and v:match('^[^%z]*') or nil end
local function anyArg(args, f) for i = 1, args.n do if f(args[i]) then return true end end return false end
local function hostileT(v) return type(v) == 'table' and getmeta(v) ~= nil end
local function big(v, limit) v = tonumber(v) return v ~= nil and (v ~= v or v > limit or v < -limit) end
local function outside32(v) return type(v) == 'number' and (v ~= v or v >= 2^31 or v < -2^31) end
knownFaults = {
    {'lua property', function(e, a) return e.name == 'setProperty' and cprefix(a[2]) == 'lua' end},
    {'chooseFile', function(e) return e.name == 'chooseFile' end},
    {'root destroy', function(e, a) return (e.name == 'destroy' or e.name == '__gc') and rawequal(a[1], rootWidget) end},
    {'setParent in own paint', function(e, a, c) return c.event == 'onPaint' and e.name == 'setParent' end},
    {'Image gc', function(e) return e.name == '__gc' and e.class == 'Image' end},
    {'graphic hostile', function(e, a) return e.name == 'graphic' and anyArg(a, hostileT) end},
    {'__deleted', function(e, a, c) return c.event == '__deleted' end},
    {'Tracker gc', function(e, a) return e.name == '__gc' and (e.class == 'Tracker' or classOf(a[1]) == 'Tracker') end},
    {'parent loop', function(e, a) return e.name == 'setParent' and rawequal(a[1], a[2]) end},
    {'insert loop', function(e, a) return e.name == 'insertWidget' and (isa(a[2], 'TabWidget') or isa(a[2], 'MainWindow')) end},
    {'parent loop 2', function(e, a) return (e.name == 'setParent' and loops(a[1], a[2])) or (e.name == 'insertWidget' and loops(a[2], a[1])) end},
    {'reparent in paint', function(e, a, c) return (e.name == 'setParent' or e.name == 'insertWidget' or e.name == 'setFloating') and painting > 0 end},
    {'delete in nested loop', function(e, a, c) return (e.name == 'destroy' or e.name == '__gc' or e.name == 'close' or e.name == 'drop' or e.name == 'done') and nest > 0 end},
    {'huge geometry', function(e, a) return (e.name == 'setGeometry' or e.name == 'animate' or e.name == 'insertWidget' or e.name == 'setMaximized' or e.name == 'show') and (anyArg(a, function(v) return big(v, 6000) end) or anyArg(a, function(v) return type(v) == 'table' and not getmeta(v) and (type(rawget(v, 'w')) ~= 'number' or rawget(v, 'w') > 6000 or type(rawget(v, 'h')) ~= 'number' or rawget(v, 'h') > 6000) end)) end},
    {'hide in nested loop', function(e, a, c) return nest > 0 and (e.name == 'hide' or e.name == 'close' or e.name == 'setVisible' or e.name == 'setOption' or e.name == 'setFloating' or e.name == 'setParent' or e.name == 'setProperty') end},
    {'reparent in geometry event', function(e, a, c) return (e.name == 'setParent' or e.name == 'insertWidget' or e.name == 'setFloating') and geometryEvents > 0 end},
    {'canvas size outside paint', function(e, a) return e.name == 'size' and e.class == 'QPainter' and rawequal(a[1], lcdCanvas) and painting == 0 end},
    {'modal in paint', function(e, a, c) return e.name == 'modal' and (painting > 0 or nest > 0) end},
    {'reparent in close', function(e, a, c) return (e.name == 'setParent' or e.name == 'insertWidget' or e.name == 'setFloating') and closing > 0 end},
    {'floated reparent', function(e, a) return (e.name == 'setParent' and floated[a[1]]) end},
    {'raw meta', function(e, a) return e.name:sub(1, 2) == '__' and e.class and not isa(a[1], e.class) end},
    {'wrap32', function(e, a) return (e.name == 'setTimeout' or e.name == 'done') and anyArg(a, outside32) end},
    {'huge image', function(e, a) return e.name == 'create' and e.class == 'Image' and anyArg(a, function(v) return big(v, 8000) end) end},
    {'nul text', function(e, a) return anyArg(a, function(v) return type(v) == 'string' and v:find('%z') end) end},
}
do local allow = os.getenv('REMOTE_FUZZ_ALLOW') or '' local kept = {} for _, f in ipairs(knownFaults) do if not allow:find(f[1], 1, true) then kept[#kept + 1] = f end end knownFaults = kept end
-- TEMPORARY-KNOWN-END

local function knownFault(entry, args, context)
    for _, fault in ipairs(knownFaults) do
        if fault[2](entry, args, context) then
            return fault[1]
        end
    end
    return nil
end

------------------------------------------------------------------------------------------------
-- The pool of handles. The fixed ones are never dropped; the others make room for new ones, and
-- a dropped QObject is destroyed so windows do not pile up.

local fixed = {}
local pool = {}
local inPool = setmetatable({}, {__mode = 'k'})
local dead = {}
local deadNext = 1
local own = setmetatable({}, {__mode = 'k'}) -- the fuzzer's own timers: never in the pool
local keep = {} -- strong references to timers that run a modal loop's end


local deadSet = setmetatable({}, {__mode = 'k'})

local function remember(h)
    deadSet[h] = true
    if dead[DEAD_SIZE] == nil then
        dead[#dead + 1] = h
    else
        dead[deadNext] = h
        deadNext = deadNext % DEAD_SIZE + 1
    end
end

local poolTimerTick -- set below

-- Objects made by event handlers and timers go to a small pool of their own: the main pool
-- holds only what the main stream made, so a seed replays the same main calls.
local side = {}
local sideNext = 1
local SIDE_SIZE = 24

local function arm(g, h)
    pcall(function() h.onTimeout = poolTimerTick end)
    -- half the timers run at once, at a short interval
    if g.chance(0.5) then
        local interval = g.range(0, 20)
        say(format('fuzz %d: start %s every %d ms', calls, describe(h), interval))
        pcall(api.setTimeout, h, interval)
        pcall(api.start, h)
    end
end

local function drop(old)
    if isa(old, 'QObject') and not knownFault({name = 'drop'}, {n = 1, old}, {}) then
        say(format('fuzz %d: drop %s', calls, describe(old)))
        pcall(api.destroy, old)
    end
end

local function addToPool(g, h)
    if type(h) ~= 'userdata' or inPool[h] or own[h] or not classOf(h) then
        return
    end
    inPool[h] = true
    handleId(h)
    if g == rng then
        say(format('fuzz %d: new %s', calls, describe(h)))
    end
    if isa(h, 'Timer') then
        arm(g, h)
    end
    if g ~= rng then
        local old = side[sideNext]
        side[sideNext] = h
        sideNext = sideNext % SIDE_SIZE + 1
        if old ~= nil then
            inPool[old] = nil
            drop(old)
        end
    elseif #pool >= POOL_SIZE then
        local i = g.int(#pool)
        local old = pool[i]
        pool[i] = h
        inPool[old] = nil
        drop(old)
    else
        pool[#pool + 1] = h
    end
end

local function collectResults(g, ...)
    for i = 1, select('#', ...) do
        local v = select(i, ...)
        if type(v) == 'userdata' then
            addToPool(g, v)
        elseif type(v) == 'table' and not labels[v] then
            for j = 1, math.min(rawlen(v), 16) do
                addToPool(g, rawget(v, j))
            end
        end
    end
end

-- Picks draw the same numbers whatever the lists hold, so deaths at times the seed does not fix
-- (deferred deletes, handlers) do not shift the main stream.
local function pickFrom(list, k)
    local n = #list
    return n > 0 and list[k % n + 1] or nil
end

local function anyHandle(g)
    local r, k = g.int(100), g.int(1 << 30)
    local h
    if r <= 15 then
        h = pickFrom(fixed, k)
    elseif r <= 21 then
        h = pickFrom(dead, k)
    elseif r <= 30 and g ~= rng then
        h = pickFrom(side, k)
    end
    return h or pickFrom(pool, k) or pickFrom(fixed, k)
end

local function handleOf(g, className)
    local r, k = g.int(100), g.int(1 << 30)
    if r <= 4 and #dead > 0 then
        return pickFrom(dead, k)
    end
    local lists = (g ~= rng and r <= 30) and {side, pool, fixed} or {pool, fixed}
    for _, list in ipairs(lists) do
        local n = #list
        for j = 0, n - 1 do
            local h = list[(k + j) % n + 1]
            if isa(h, className) and not deadSet[h] then
                return h
            end
        end
    end
    return pickFrom(pool, k) or pickFrom(fixed, k)
end

------------------------------------------------------------------------------------------------
-- Argument values.

local NAN = 0 / 0
local edgeNumbers = {
    0, -1, 1, 2, 3, 7, 255, 256, 0x7fffffff, -0x80000000, 1 << 31, 1 << 32, (1 << 32) + 5,
    1 << 53, math.maxinteger, math.mininteger, 2 ^ 31, 2 ^ 32, 2 ^ 53, 2 ^ 63, -2 ^ 63, 1e308,
    -1e308, NAN, math.huge, -math.huge, 0.5, -0.5, 1.5, 2.75, -0.0, 1e-300, 0xFF0000, 0xFF00FF00,
    0xFFFFFFFF, 20000, 67296,
}

local words = {
    -- colours
    'off', 'on', 'white', 'black', 'darkGray', 'gray', 'lightgray', 'red', 'green', 'blue',
    'transparent', 'gold', 'purple', 'orange', 'darkBlue', 'notacolour',
    -- styles and states
    'panel', 'panel.gradient', 'msgbox.panel', 'cell.panel', 'timecode', 'textbox', 'gradient',
    'button', 'button.compact', 'button.flat', 'button.cell', 'button.highlight',
    'button.selected', 'button.warning', 'b', 'down', 'disabled',
    -- graphics
    'cog', 'music', 'search', 'play', 'logo', 'smptebars', 'backspace', 'phase', 'nonexistent',
    '../images/logo', 'fa-cog',
    -- show modes and options
    'fullscreen', 'canFocus', 'focusQuery', 'enableQuery', 'hidden', 'acceptDrops',
    -- font words
    'bold', 'demibold', 'normal', 'light', 'italic', 'overline', 'underline', 'DejaVu Sans',
    'DSEG7 Classic', 'Courier New', 'X',
    -- property names
    'visible', 'enabled', 'windowTitle', 'objectName', 'lua', 'geometry', 'minimumWidth',
    'maximumHeight', 'styleSheet', 'toolTip', 'windowOpacity', 'focus', 'x', 'size', 'font',
    'windowModified', 'updatesEnabled',
    -- alignment, masks, style sheets, drag formats, paths
    'centre', 'left', 'right', '999', '>AAAA;_', 'HH:HH:HH', '000.000.000.000;_', '\\',
    'QWidget { background: red }', 'color: blue; font-size: 300px', '* { border: 99999px solid }',
    'application/vnd.lua.dragdrop', 'text/plain', 'dragdrop', '/tmp', '/nonexistent/dir', '.',
    '*.txt', 'Images (*.png *.svg)',
    -- numbers written as text
    '12', '0x10', ' 7 ', '1e400', '-0', 'nan',
}

local oddStrings = {
    '', '%s%d%', '%n%n%n%s', 'a\0b', 'fullscreen\0', '\0', 'red\0', 'hidden\0x', '€üß', '\xff\xfe\xfd',
    '\n\r\t', 'line\nbreak', ('%'):rep(64),
}

local longStrings = {}
local function longString(g)
    local n = g.pick({100, 1000, 5000, 65536})
    local s = longStrings[n]
    if not s then
        s = ('Wide text %s&% \0 '):rep(n // 16 + 1):sub(1, n)
        longStrings[n] = s
    end
    return s
end

local function number(g)
    local r = g.int(100)
    if r <= 50 then
        return g.range(-50, 700)
    elseif r <= 75 then
        return g.pick(edgeNumbers)
    elseif r <= 85 then
        return g.range(-2000, 2000) / 8
    end
    return g.range(1000, 6000)
end

local function integer(g)
    local v = number(g)
    return math.tointeger(v) or g.range(-5, 500)
end

local function text(g)
    local r = g.int(100)
    if r <= 70 then
        return g.pick(words)
    elseif r <= 92 then
        return g.pick(oddStrings)
    end
    return longString(g)
end

local function rect(g)
    local r = g.int(10)
    if r <= 6 then
        return {x = g.range(-20, 400), y = g.range(-20, 400), w = g.range(0, 500), h = g.range(0, 400)}
    elseif r == 7 then
        return {x = number(g), y = number(g), w = number(g), h = number(g)}
    elseif r == 8 then
        return {x = 0, y = 0, w = g.pick({20000, 67296, 0x7fffffff, 1e308, NAN}),
                h = g.pick({20000, 67296, 0x7fffffff, -1, math.mininteger})}
    elseif r == 9 then
        return {x = '10', y = 'twenty', w = {}, h = true}
    end
    return {x = 1, y = 2}
end

local function labelled(t, label)
    labels[t] = label
    return t
end

-- An object to destroy from inside a hostile metamethod: owned ones die at once through their
-- __gc, the others through destroy.
local function destroyNow(g, why)
    local h = anyHandle(g)
    local cls = classes[classOf(h) or '']
    if not cls then
        return
    end
    local gc, destroy = rawget(cls, '__gc'), cls.destroy
    local isFixedWindow = rawequal(h, mainWindow)
    if knownFault({name = type(gc) == 'function' and '__gc' or 'destroy', class = classOf(h)}, {n = 1, h}, {}) then
        return
    end
    say(format('fuzz %d: %s destroys %s', calls, why, describe(h)))
    if type(gc) == 'function' then
        pcall(gc, h)
    end
    if type(destroy) == 'function' and not isFixedWindow then
        pcall(destroy, h)
    end
end

local randomCall -- set below

-- Garbage whose finalizer acts when the collector gets to it, inside whatever runs then.
local function finalizer()
    return function()
        if finishing or shuttingDown or depth > 2 then
            return
        end
        depth = depth + 1
        pcall(function()
            if erng.chance(0.5) then
                destroyNow(erng, '__gc finalizer')
            else
                randomCall(erng, '__gc finalizer > ', nil, {event = '__gc'})
            end
        end)
        depth = depth - 1
    end
end

local function hostileTable(g)
    local r = g.int(6)
    if r == 1 then
        return labelled(setmetatable({}, {__index = function() error('hostile index') end}),
            '{__index raises}')
    elseif r == 2 then
        return labelled(setmetatable({}, {__index = function()
            destroyNow(g, '__index')
            return g.range(0, 100)
        end}), '{__index destroys}')
    elseif r == 3 then
        return labelled(setmetatable({}, {__index = function()
            collectgarbage()
            return 5
        end}), '{__index collects}')
    elseif r == 4 then
        return labelled(setmetatable({}, {__index = function()
            if depth <= 2 then
                depth = depth + 1
                pcall(randomCall, g, '__index > ', nil, {event = '__index'})
                depth = depth - 1
            end
            return 1
        end}), '{__index calls}')
    elseif r == 5 then
        return labelled(setmetatable({}, {__gc = finalizer()}), '{__gc acts}')
    end
    return labelled(setmetatable({}, {__index = function() return NAN end}), '{__index nan}')
end

local function table_(g)
    local r = g.int(10)
    if r <= 4 then
        return labelled(rect(g), '{rect}')
    elseif r <= 7 then
        return hostileTable(g)
    elseif r == 8 then
        return labelled({}, '{}')
    elseif r == 9 then
        local t = {1, 2, 3, 'x'}
        t.self = t
        return labelled(t, '{1,2,3}')
    end
    return g.pick({qt, classes[g.pick(classNames)]})
end

local emptyFunction = labelled(function() end, '<function>')
local raisingFunction = labelled(function() error('function raised') end, '<raising function>')

-- Anything at all.
local function hostile(g)
    local r = g.int(100)
    if r <= 6 then
        return nil
    elseif r <= 10 then
        return g.chance(0.5)
    elseif r <= 30 then
        return g.pick(edgeNumbers)
    elseif r <= 38 then
        return number(g)
    elseif r <= 55 then
        return text(g)
    elseif r <= 68 then
        return table_(g)
    elseif r <= 71 then
        return g.chance(0.5) and emptyFunction or raisingFunction
    elseif r <= 92 then
        return anyHandle(g)
    end
    local k = g.int(1 << 30)
    return (r <= 96 and pickFrom(dead, k)) or pickFrom(fixed, k)
end

-- A value of a kind a function was seen to want.
local function ofKind(g, kind)
    if kind == 'number' then
        return number(g)
    elseif kind == 'integer' then
        return integer(g)
    elseif kind == 'string' or kind == 'option' then
        return text(g)
    elseif kind == 'table' then
        return table_(g)
    elseif kind == 'boolean' then
        return g.chance(0.5)
    elseif kind == 'function' then
        return emptyFunction
    elseif kind == 'live' then
        return anyHandle(g)
    elseif classes[kind] then
        return handleOf(g, kind)
    end
    return hostile(g)
end

-- Argument errors teach each function what it wants where: "bad argument #3 to '?' (number
-- expected, got nil)".
local function learn(entry, message)
    if type(message) ~= 'string' then
        return
    end
    local pos, detail = message:match("bad argument #(%d+) to '[^']*' %((.*)%)")
    pos = tonumber(pos)
    if not pos or pos > 16 then
        return
    end
    local kind = detail:match('^(%S+) expected')
    if detail:find('no integer representation', 1, true) then
        kind = 'integer'
    elseif detail:find('invalid option', 1, true) then
        kind = 'option'
    elseif detail:find('attempting to access deleted', 1, true) then
        kind = entry.want[pos] or 'live'
    end
    if kind and (kind == 'number' or kind == 'integer' or kind == 'string' or kind == 'table' or
        kind == 'boolean' or kind == 'function' or kind == 'option' or kind == 'live' or classes[kind]) then
        entry.want[pos] = kind
        if pos > entry.arity then
            entry.arity = pos
        end
    end
end

local function argumentsFor(g, entry, self)
    local args = {}
    local n
    local r = g.int(100)
    if r <= 15 then
        -- anything goes
        n = g.range(0, 6)
        for i = 1, n do
            args[i] = hostile(g)
        end
    else
        n = math.max(entry.arity + g.range(-1, 2), 0)
        local more = g.int(100)
        if more <= 15 then
            n = n + g.range(1, 8)
        elseif more == 16 then
            n = n + 200
        end
        for i = 1, n do
            local kind = entry.want[i]
            local good = entry.good and entry.good[i]
            if good and g.chance(0.4) then
                args[i] = g.pick(good)
            elseif kind then
                args[i] = ofKind(g, kind)
            elseif i == 1 and entry.class then
                args[i] = handleOf(g, entry.class)
            else
                args[i] = g.chance(0.5) and number(g) or hostile(g)
            end
        end
        -- one argument spoiled
        if n > 0 and g.chance(0.2) then
            args[g.int(n)] = hostile(g)
        end
    end
    if self ~= nil then
        args[1] = self
        n = math.max(n, 1)
    end
    args.n = n
    return args
end

------------------------------------------------------------------------------------------------
-- What the fuzzer never does: end the run itself. The main window is never closed, destroyed,
-- hidden, made a child or turned into a tool window, except at the end; and the script time
-- limit stays as it is, since a tight one ends the run at the next slow call.

local function hidesWindow(entry, args)
    if entry.name == 'setScriptTimeLimit' then
        return true
    end
    if not rawequal(args[1], mainWindow) then
        return false
    end
    local name = entry.name
    if name == 'close' or name == 'destroy' or name == 'hide' or name == 'setVisible' or
        name == 'setOption' or name == 'setFloating' or name == 'setParent' then
        return true
    end
    if name == 'setProperty' then
        local key = args[2]
        return type(key) ~= 'string' or (key:match('^[^%z]*') == 'visible')
    end
    return false
end

local function refused(entry, args)
    if hidesWindow(entry, args) then
        return true
    end
    -- keys of the fuzzer's own hooks are not overwritten with junk
    if entry.name == '__newindex' and type(args[2]) == 'string' and reservedKeys[args[2]] then
        return true
    end
    return false
end

local function memoryCheck()
    local f = io.open('/proc/self/statm')
    if not f then
        return
    end
    local line = f:read('l')
    f:close()
    local resident = tonumber(line and line:match('^%d+%s+(%d+)') or '')
    if resident and resident * 4096 > MEMORY_LIMIT then
        say(format('fuzz runaway memory: %d MiB resident after call %d (seed %d)',
            resident * 4096 // (1024 * 1024), calls, SEED))
        os.exit(3)
    end
end

-- Strings a call took without complaint are tried again at the same place: the words a
-- function understands (graphic names, options) are found once and then used often.
local function rememberGood(g, entry, args)
    if not entry.want then
        return
    end
    for i = 1, math.min(args.n, 16) do
        local v = args[i]
        if type(v) == 'string' then
            entry.good = entry.good or {}
            local list = entry.good[i] or {}
            entry.good[i] = list
            if #list < 8 then
                list[#list + 1] = v
            else
                list[g.int(8)] = v
            end
        end
    end
end

-- Makes one call and prints it first; tag says who makes it when it is not the main stream.
local function invoke(g, entry, args, tag, context)
    if refused(entry, args) then
        return
    end
    local skip = knownFault(entry, args, context or {})
    if skip then
        return
    end
    -- some calls run in a coroutine, so the native code sees another lua_State
    local threaded = g.chance(0.06)
    say(format('fuzz %d: %s%s%s', calls, tag or '', threaded and 'coroutine ' or '',
        describeCall(entry.label, args)))
    local results
    if threaded then
        results = table.pack(coroutine.resume(coroutine.create(entry.fn), unpack(args, 1, args.n)))
    else
        results = table.pack(pcall(entry.fn, unpack(args, 1, args.n)))
    end
    entry.tried = (entry.tried or 0) + 1
    if results[1] then
        entry.passed = (entry.passed or 0) + 1
        rememberGood(g, entry, args)
        local target = args[1]
        if entry.name == '__gc' and classOf(target) and (not isa(target, 'QObject') or isa(target, 'Timer')) then
            remember(target)
        end
        if observe then
            observe(entry, args, results)
        end
        collectResults(g, unpack(results, 2, results.n))
    elseif entry.want then
        learn(entry, results[2])
    end
end

local function randomEntry(g)
    if #creators > 0 and (#pool < 12 or g.chance(0.12)) then
        return g.pick(creators)
    end
    return g.pick(functions)
end

function randomCall(g, tag, self, context)
    local entry
    if self ~= nil then
        local list = byClass[classOf(self) or '']
        if not list or #list == 0 then
            return
        end
        entry = g.pick(list)
    else
        entry = randomEntry(g)
    end
    invoke(g, entry, argumentsFor(g, entry, self), tag, context)
end

------------------------------------------------------------------------------------------------
-- Modal loops, each with a timer that ends it a few milliseconds later: a dialog's exec ended by
-- done, and a message box or file chooser ended by destroying the widget under it.

local function guard(f)
    return function(self)
        pcall(f, self)
    end
end

local function closer(g, interval, action)
    local t = api.timerCreate()
    own[t] = true
    keep[t] = true
    api.setTimeout(t, interval)
    t.onTimeout = guard(action)
    api.start(t)
    return t
end

local function retire(t)
    keep[t] = nil
    pcall(api.stop, t)
end

local function modal(g, tag, context)
    if nest >= 2 or finishing or shuttingDown or knownFault({name = 'modal'}, {n = 0}, context or {}) then
        return
    end
    nest = nest + 1
    local kind = g.int(5)
    local parent = nil
    if g.chance(0.6) then
        parent = handleOf(g, 'QWidget')
    end
    if kind <= 2 then
        local ok, dialog = pcall(api.dialogCreate, parent)
        if ok and dialog then
            handleId(dialog)
            local code = g.range(-2, 3)
            local t = closer(g, g.range(1, 8), function()
                say(format('fuzz %d: %sdone %s', calls, tag, describe(dialog)))
                api.done(dialog, code)
            end)
            say(format('fuzz %d: %sexec %s over %s', calls, tag, describe(dialog), describe(parent)))
            pcall(api.exec, dialog)
            say(format('fuzz %d: %sexec ended', calls, tag))
            retire(t)
        end
    else
        local ok, widget = pcall(api.widgetCreate, parent, g.chance(0.5))
        if ok and widget then
            handleId(widget)
            local t = closer(g, g.range(1, 8), function()
                say(format('fuzz %d: %sdestroy %s under the modal loop', calls, tag, describe(widget)))
                api.destroy(widget)
            end)
            local file = kind == 5
            local args = {n = 2, widget, text(g)}
            local entry = file and {label = 'qt.core.chooseFile', name = 'chooseFile', fn = api.chooseFile}
                or {label = 'QWidget.msgBox', name = 'msgBox', fn = api.msgBox}
            if not knownFault(entry, args, context or {}) then
                say(format('fuzz %d: %s%s', calls, tag, describeCall(entry.label, args)))
                pcall(entry.fn, widget, args[2])
                say(format('fuzz %d: %s%s ended', calls, tag, entry.name))
            end
            retire(t)
        end
    end
    nest = nest - 1
end

------------------------------------------------------------------------------------------------
-- Acting on the object an event, a timer or a death is for.

local painterEntries = {}

local function actOn(g, h, tag, context)
    local r = g.int(9)
    if ACT_TMP & (1 << math.min(r - 1, 7)) == 0 then return end -- TEMPORARY
    local isMain = rawequal(h, mainWindow)
    local widget = isa(h, 'QWidget')
    if r == 1 and not isMain and isa(h, 'QObject') then
        invoke(g, {label = 'QObject.destroy', name = 'destroy', fn = api.destroy}, {n = 1, h}, tag, context)
    elseif r == 2 and not isMain and widget then
        invoke(g, {label = 'QWidget.setParent', name = 'setParent', fn = api.setParent}, {n = 2, h, nil}, tag, context)
    elseif r == 3 and not isMain and widget then
        local parent = handleOf(g, 'QWidget')
        invoke(g, {label = 'QWidget.setParent', name = 'setParent', fn = api.setParent}, {n = 2, h, parent}, tag, context)
    elseif r == 4 and not isMain and widget then
        local entry = g.chance(0.5) and {label = 'QWidget.hide', name = 'hide', fn = api.hide}
            or {label = 'QWidget.close', name = 'close', fn = api.close}
        invoke(g, entry, {n = 1, h}, tag, context)
    elseif r == 5 then
        modal(g, tag, context)
    elseif r == 6 then
        say(format('fuzz %d: %scollectgarbage()', calls, tag))
        collectgarbage()
    elseif r == 7 then
        for _ = 1, g.range(1, 3) do
            randomCall(g, tag, nil, context)
        end
    else
        randomCall(g, tag, h, context)
    end
end

local function paintCalls(g, tag, context)
    if ACT_TMP & (1 << 9) == 0 then return end -- TEMPORARY
    if #painterEntries == 0 or not lcdCanvas then
        return
    end
    for _ = 1, g.range(1, 4) do
        local entry = g.pick(painterEntries)
        invoke(g, entry, argumentsFor(g, entry, lcdCanvas), tag, context)
    end
end

local function react(h, event)
    if not EVENTS then
        return
    end
    local tag = format('%s %s > ', event, describe(h))
    local context = {event = event, handle = h}
    if event == 'onPaint' and erng.chance(0.3) then
        paintCalls(erng, tag, context)
    end
    if erng.chance(0.06) then
        actOn(erng, h, tag, context)
    end
end

poolTimerTick = function(self)
    if not EVENTS or finishing or shuttingDown or depth > 2 then
        return
    end
    depth = depth + 1
    pcall(function()
        if not erng.chance(0.25) then
            return
        end
        local tag = format('onTimeout %s > ', describe(self))
        local context = {event = 'onTimeout', handle = self}
        local r = erng.int(6)
        if r <= 2 and ACT_TMP & (1 << 10) == 0 then return end -- TEMPORARY
        if r == 1 then
            invoke(erng, {label = 'Timer.stop', name = 'stop', fn = api.stop}, {n = 1, self}, tag, context)
        elseif r == 2 then
            local gc = rawget(Timer, '__gc')
            invoke(erng, {label = 'Timer.__gc', name = '__gc', fn = gc}, {n = 1, self}, tag, context)
        else
            actOn(erng, self, tag, context)
        end
    end)
    depth = depth - 1
end

local function onDeleted(h)
    if finishing or shuttingDown then
        return
    end
    pcall(remember, h)
    if not EVENTS or depth > 2 or not erng.chance(0.05) or ACT_TMP & (1 << 11) == 0 then
        return
    end
    depth = depth + 1
    pcall(function()
        local tag = format('__deleted %s > ', describe(h))
        randomCall(erng, tag, h, {event = '__deleted', handle = h})
    end)
    depth = depth - 1
end

------------------------------------------------------------------------------------------------
-- The run.

local driver

local function finish()
    if finishing then
        return
    end
    finishing = true
    pcall(api.stop, driver)
    if os.getenv('REMOTE_FUZZ_STATS') then
        for _, entry in ipairs(functions) do
            say(format('fuzz stats %-28s tried %5d passed %5d', entry.label, entry.tried or 0,
                entry.passed or 0))
        end
    end
    say(format('fuzz done seed %d calls %d', SEED, calls))
    -- If the window will not close, say so instead of hanging.
    local stuck = api.timerCreate()
    own[stuck] = true
    keep[stuck] = true
    api.setTimeout(stuck, 3000)
    stuck.onTimeout = function()
        say('fuzz: the main window did not close')
        os.exit(4)
    end
    api.start(stuck)
    api.close(mainWindow)
end

local function batch()
    say(format('fuzz %d: tick', calls))
    for _ = 1, rng.range(20, 50) do
        if calls >= CALLS then
            finish()
            return
        end
        calls = calls + 1
        if rng.chance(0.01) then
            say(format('fuzz %d: collectgarbage()', calls))
            collectgarbage()
        else
            randomCall(rng, '', nil, nil)
        end
        if calls % 4 == 0 then
            memoryCheck()
        end
    end
end

local function startup()
    say(format('fuzz start seed %d calls %d functions %d classes %d', SEED, CALLS, #functions,
        #classNames))
    for _, h in ipairs({mainWindow, rootWidget, lcdCanvas}) do
        if classOf(h) then
            fixed[#fixed + 1] = h
            inPool[h] = true
            handleId(h)
        end
    end
    -- handles that live only in the registry (the tracker, for one)
    local found = {}
    for _, v in pairs(debug.getregistry()) do
        if type(v) == 'userdata' and classOf(v) and not inPool[v] then
            found[#found + 1] = v
        end
    end
    table.sort(found, function(a, b) return classOf(a) < classOf(b) end)
    for _, h in ipairs(found) do
        fixed[#fixed + 1] = h
        inPool[h] = true
        handleId(h)
    end
    for _, entry in ipairs(byClass.QPainter or {}) do
        if entry.name ~= 'create' and entry.name:sub(1, 2) ~= '__' then
            painterEntries[#painterEntries + 1] = entry
        end
    end
    for _, name in ipairs(classNames) do
        local t = classes[name]
        if rawget(t, '__deleted') == nil then
            t.__deleted = onDeleted
        end
    end
    driver = api.timerCreate()
    own[driver] = true
    api.setTimeout(driver, 1)
    driver.onTimeout = guard(batch)
    api.start(driver)
end

function MsgHandler(h, event, ...)
    if event == 'onStartup' then
        -- Calls made slow by the sanitizer are not runaway scripts.
        mainWindow:setScriptTimeLimit(5000, 60000)
        local ok, err = pcall(startup)
        if not ok then
            say('fuzz: start-up failed: ' .. tostring(err))
            os.exit(5)
        end
        return 0
    end
    if event == 'onShutdown' then
        -- the application may still do a little as the window goes
        if EVENTS and depth == 0 then
            depth = depth + 1
            for _ = 1, erng.range(0, 4) do
                pcall(randomCall, erng, 'onShutdown > ', nil, {event = 'onShutdown'})
            end
            depth = depth - 1
        end
        shuttingDown = true
        return 0
    end
    if finishing or shuttingDown or depth > 2 then
        return 0
    end
    depth = depth + 1
    local geometry = event == 'onMove' or event == 'onResize'
    if event == 'onPaint' then
        painting = painting + 1
    end
    if geometry then
        geometryEvents = geometryEvents + 1
    end
    if event == 'onClose' then
        closing = closing + 1
    end
    pcall(react, h, event)
    if event == 'onPaint' then
        painting = painting - 1
    end
    if geometry then
        geometryEvents = geometryEvents - 1
    end
    if event == 'onClose' then
        closing = closing - 1
    end
    depth = depth - 1
    if event == 'onClose' and rawequal(h, mainWindow) then
        return 0
    end
    if EVENTS and erng.chance(0.05) then
        return 1
    end
    return 0
end
