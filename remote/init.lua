-- The demo application: a panel of buttons in every style and state with icons, the logo and a
-- time-code display; a second page to drag out into a window of its own; a screenplay page and a
-- PDF page (remote/documents.lua), driven by buttons and the foot pedal; pedal lamps and a serial
-- console (remote/devicespage.lua); the services found on the network
-- (remote/servicespage.lua); recording and playback (remote/mediapage.lua). The status text
-- shows what was touched last, and every event is logged.
local qt = require 'qt.core'
local documents = require 'remote.documents'
local devices = require 'remote.devicespage'
local services = require 'remote.servicespage'
local mediapage = require 'remote.mediapage'

local demo = {}

local styles = {'', 'panel', 'panel.gradient', 'msgbox.panel', 'cell.panel', 'timecode', 'textbox',
    'gradient', 'button', 'button.compact', 'button.flat', 'button.cell', 'button.highlight',
    'button.selected', 'button.warning'}
local states = {'', 'down', 'disabled'}
local icons = {'cog', 'music', 'search', 'play', 'pause', 'stop', 'volume-up', 'microphone',
    'film', 'bolt', 'star', 'heart', 'bell', 'wifi', 'home'}

local labelFont = qt.QFont.create()
labelFont:setFont('DejaVu Sans', 12, 'bold')
local timecodeFont = qt.QFont.create()
timecodeFont:setFont('DSEG7 Classic', 28)

local function describe(handle)
    if handle == nil then
        return "-"
    end
    return getmetatable(handle).__classname
end

function MsgHandler(handle, event, ...)
    if services.handle(handle, event, ...) then
        return 0
    end
    if mediapage.owns(handle) then
        return mediapage.event(handle, event, ...)
    end
    if event ~= 'onPaint' and event ~= 'onTouchMove' then
        local args = {...}
        for i = 1, #args do
            args[i] = tostring(args[i])
        end
        local line = string.format("event %s %s %s", event, describe(handle), table.concat(args, " "))
        print(line)
        if demo.console and event ~= 'onMove' and event ~= 'onResize' then
            demo.console:append(line)
        end
    end
    local handler = demo[event]
    if handler then
        return handler(handle, ...) or 0
    end
    return 0
end

local cell = {w = 132, h = 40, gap = 6, left = 12, top = 12}

local function cellAt(column, row)
    return cell.left + (column - 1) * (cell.w + cell.gap), cell.top + (row - 1) * (cell.h + cell.gap)
end

local function paintPanel(p)
    local w, h = p:size()
    p:fill(0, 0, w, h, 0x1E1E1E)
    p:setFont(labelFont)
    for i, style in ipairs(styles) do
        local column = (i - 1) % 5 + 1
        local band = (i - 1) // 5
        for j, state in ipairs(states) do
            local x, y = cellAt(column, band * 3 + j)
            local pressed = demo.pressed and demo.pressed.style == i and demo.pressed.state == j
            p:gradient(x, y, cell.w, cell.h, 0x2060A0, style, pressed and 'down' or state)
            p:graphic(icons[i], {x = x + 6, y = y + 10, w = 20, h = 20})
            p:text(x + 32, y + 12, (style == '' and 'plain' or style):gsub('^button%.', ''), nil,
                state == 'disabled' and 'lightgray' or 'white')
        end
    end
    local x = cellAt(6, 1)
    p:gradient(x, 12, 300, 64, 'black', 'timecode')
    p:setFont(timecodeFont)
    p:text(x + 18, 26, demo.timecode or '00:00:00:00', nil, 'orange')
    p:graphic('logo', {x = x, y = 96, w = 300, h = 75})
end

local function hit(x, y)
    for i = 1, #styles do
        local column = (i - 1) % 5 + 1
        local band = (i - 1) // 5
        for j = 1, #states do
            local cx, cy = cellAt(column, band * 3 + j)
            if x >= cx and x < cx + cell.w and y >= cy and y < cy + cell.h then
                return {style = i, state = j}
            end
        end
    end
end

-- A keypad of Lua-painted push buttons typing into a line edit.
local keys = {'7', '8', '9', '4', '5', '6', '1', '2', '3', 'C', '0', '<'}

local function makeKeypad()
    local page = qt.QWidget.create(nil, false)
    page:setTitle("Keypad")
    demo.entry = qt.QLineEdit.create(page)
    demo.entry:setGeometry(20, 20, 300, 40)
    demo.entry:setAlignment('centre')
    demo.entry:setFont(timecodeFont)
    demo.keys = {}
    for i, key in ipairs(keys) do
        local button = qt.PushButton.create(page)
        button:setGeometry(20 + ((i - 1) % 3) * 104, 76 + ((i - 1) // 3) * 64, 96, 56)
        demo.keys[button] = key
    end
    return page
end

local function paintKey(handle)
    local w, h = lcdCanvas:size()
    local key = demo.keys[handle]
    local style = (key == 'C' or key == '<') and 'button.warning' or 'button'
    lcdCanvas:gradient(0, 0, w, h, 0x404040, style, handle:state())
    if key == '<' then
        lcdCanvas:graphic('backspace', {x = w // 2 - 16, y = h // 2 - 11, w = 32, h = 22})
    else
        lcdCanvas:text(w // 2 - 6, h // 2 - 12, key, 22, 'white')
    end
end

local function pressKey(key)
    if key == 'C' then
        demo.entry:setText(nil)
    elseif key == '<' then
        demo.entry:backspace()
    else
        demo.entry:insert(key)
    end
    mainWindow:setText("Entry: " .. demo.entry:text())
end

-- A side panel that slides in over the styles page and out again.
local function toggleSidePanel()
    local _, _, w, h = demo.page:geometry()
    demo.sideShown = not demo.sideShown
    local x = demo.sideShown and w - 260 or w
    local fromX = demo.sideShown and w or w - 260
    demo.side:show()
    mainWindow:animate(demo.side, fromX, 0, 260, h, x, 0, 260, h)
end

local function startClock()
    demo.clock = qt.Timer.create()
    demo.clock:setTimeout(40)
    demo.frames = 0
    function demo.clock:onTimeout()
        demo.frames = (demo.frames + 1) % 25
        demo.timecode = os.date('%H:%M:%S') .. string.format(':%02d', demo.frames)
        demo.page:update()
    end
    demo.clock:start()
end

function demo.onStartup()
    demo.page = qt.QWidget.create(nil, false)
    demo.page:setTitle("Styles")
    rootWidget:insertWidget(demo.page)
    demo.side = qt.QWidget.create(demo.page, false)
    rootWidget:insertWidget(makeKeypad())
    demo.console = qt.QPlainTextEdit.create(nil)
    demo.console:setTitle("Log")
    rootWidget:insertWidget(demo.console)
    demo.second = qt.QWidget.create(nil, false)
    demo.second:setTitle("Drag me out")
    rootWidget:insertWidget(demo.second)
    documents.create()
    devices.create()
    rootWidget:insertWidget(services.create())
    rootWidget:insertWidget(mediapage.create())
    rootWidget:setCurrentWidget(demo.page)
    startClock()
    mainWindow:startFootPedal()
    mainWindow:setGeometry(40, 40, 1100, 720)
    mainWindow:setText("Ready - " .. applicationFileName .. (wantSettings and " (settings)" or ""))
end

function demo.onClick(handle)
    if documents.onClick(handle) or devices.onClick(handle) then
        return
    end
    local key = demo.keys[handle]
    if key then
        pressKey(key)
    end
end

function demo.onPaint(handle)
    if documents.onPaint(handle) or devices.onPaint(handle) then
        return
    end
    if demo.keys[handle] then
        paintKey(handle)
    elseif rawequal(handle, demo.side) then
        local w, h = lcdCanvas:size()
        lcdCanvas:gradient(0, 0, w, h, 0x283040, 'msgbox.panel')
        lcdCanvas:text(16, 16, 'Side panel', 18, 'white')
        lcdCanvas:text(16, 48, 'Tap here to close', 12, 'lightgray')
    elseif rawequal(handle, demo.page) then
        paintPanel(lcdCanvas)
    elseif rawequal(handle, demo.second) then
        local w, h = lcdCanvas:size()
        lcdCanvas:gradient(0, 0, w, h, 0x303030, 'panel.gradient')
        lcdCanvas:graphic('smptebars', {x = 40, y = 40, w = w - 80, h = h - 80})
    end
end

function demo.onTouchPress(handle, x, y)
    if rawequal(handle, demo.side) then
        toggleSidePanel()
        return 0
    end
    if not rawequal(handle, demo.page) then
        return 0
    end
    local tx = cellAt(6, 1)
    if x >= tx and x < tx + 300 and y >= 96 and y < 171 then
        toggleSidePanel()
        return 0
    end
    demo.pressed = hit(x, y)
    if demo.pressed then
        mainWindow:setText(string.format("Pressed %s (%s)", styles[demo.pressed.style],
            states[demo.pressed.state]))
    end
    demo.page:update()
end

function demo.onTouchRelease(handle)
    if rawequal(handle, demo.page) and demo.pressed then
        demo.pressed = nil
        demo.page:update()
    end
end

function demo.onResize(handle, w, h)
    documents.onResize(handle, w, h)
end

function demo.onFootPress(_, pedal)
    documents.onFootPress(pedal)
    devices.onFootPress(pedal)
end

function demo.onFootRelease(_, pedal)
    documents.onFootRelease(pedal)
    devices.onFootRelease(pedal)
end

function demo.onReadyRead(handle)
    devices.onReadyRead(handle)
end

function demo.onError(handle)
    devices.onError(handle)
end

function demo.onShutdown()
    print("demo: shutting down")
end
