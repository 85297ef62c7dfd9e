-- The demo application: a panel of buttons in every style and state with icons, the logo and a
-- time-code display; a second page to drag out into a window of its own; a screenplay page and a
-- PDF page (remote/documents.lua), driven by buttons and the foot pedal; pedal lamps and a serial
-- console (remote/devicespage.lua); the services found on the network
-- (remote/servicespage.lua); recording and playback (remote/mediapage.lua). The status text
-- shows what was touched last on the page in front, and every event is logged. Every page
-- follows the window's size, down to 700 by 500.
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

-- The styles page is laid out from its size: a grid of samples (five columns, three rows of
-- states per band of styles) and, beside it, a column with the time code over the logo.
local grid = {columns = 5, gap = 6, margin = 12}
grid.rows = (#styles + grid.columns - 1) // grid.columns * #states
local layout = {}

local function layoutStyles(w, h)
    local side = math.max(160, math.min(300, w * 3 // 10))
    layout.side = {x = w - grid.margin - side, w = side}
    layout.clock = {y = grid.margin, h = side * 64 // 300, size = side * 28 // 300}
    layout.logo = {y = layout.clock.y + layout.clock.h + 20, h = side // 4}
    local room = layout.side.x - 2 * grid.margin
    layout.cellW = math.max(24, (room - (grid.columns - 1) * grid.gap) // grid.columns)
    layout.cellH = math.max(16, math.min(40,
        (h - 2 * grid.margin - (grid.rows - 1) * grid.gap) // grid.rows))
    layout.icons = layout.cellW >= 120
    layout.labels = {}
end

-- Style i in state j: each line of styles is a band with a row per state.
local function cellAt(i, j)
    local column = (i - 1) % grid.columns
    local row = (i - 1) // grid.columns * #states + j - 1
    return grid.margin + column * (layout.cellW + grid.gap),
        grid.margin + row * (layout.cellH + grid.gap)
end

-- A label fits its room: its type shrinks down to 8 pixels, then its end gives way to an
-- ellipsis. Fitted labels are kept until the next layout.
local measure = labelFont:copy()

local function fits(text, size, room)
    measure:setFont(size)
    return measure:textBounds(text) <= room
end

local function fitLabel(text, room)
    local key = text .. '@' .. room
    if layout.labels[key] then
        return layout.labels[key]
    end
    local size = 12
    while size > 8 and not fits(text, size, room) do
        size = size - 1
    end
    local shown, kept = text, #text
    while kept > 1 and not fits(shown, size, room) do
        kept = kept - 1
        shown = text:sub(1, kept) .. '\u{2026}'
    end
    local _, height = measure:textBounds(shown)
    layout.labels[key] = {text = shown, size = size, height = height}
    return layout.labels[key]
end

local function paintSample(p, i, j, x, y)
    local style, state = styles[i], states[j]
    local pressed = demo.pressed and demo.pressed.style == i and demo.pressed.state == j
    p:gradient(x, y, layout.cellW, layout.cellH, 0x2060A0, style, pressed and 'down' or state)
    local left = 8
    if layout.icons then
        p:graphic(icons[i], {x = x + 6, y = y + (layout.cellH - 20) // 2, w = 20, h = 20})
        left = 32
    end
    local name = style == '' and 'plain' or style:gsub('^button%.', '')
    local label = fitLabel(name, layout.cellW - left - 6)
    p:text(x + left, y + (layout.cellH - label.height) // 2, label.text, label.size,
        state == 'disabled' and 'lightgray' or 'white')
end

local function paintPanel(p)
    local w, h = p:size()
    p:fill(0, 0, w, h, 0x1E1E1E)
    p:setFont(labelFont)
    for i = 1, #styles do
        for j = 1, #states do
            paintSample(p, i, j, cellAt(i, j))
        end
    end
    local side, clock, logo = layout.side, layout.clock, layout.logo
    p:gradient(side.x, clock.y, side.w, clock.h, 'black', 'timecode')
    p:setFont(timecodeFont)
    p:text(side.x + side.w * 18 // 300, clock.y + (clock.h - clock.size) // 2,
        demo.timecode or '00:00:00:00', clock.size, 'orange')
    p:graphic('logo', {x = side.x, y = logo.y, w = side.w, h = logo.h})
end

local function hit(x, y)
    for i = 1, #styles do
        for j = 1, #states do
            local cx, cy = cellAt(i, j)
            if x >= cx and x < cx + layout.cellW and y >= cy and y < cy + layout.cellH then
                return {style = i, state = j}
            end
        end
    end
end

local function onLogo(x, y)
    local side, logo = layout.side, layout.logo
    return x >= side.x and x < side.x + side.w and y >= logo.y and y < logo.y + logo.h
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

local function entryStatus()
    return "Keypad - entry: " .. demo.entry:text()
end

local function pressKey(key)
    if key == 'C' then
        demo.entry:setText(nil)
    elseif key == '<' then
        demo.entry:backspace()
    else
        demo.entry:insert(key)
    end
    mainWindow:setText(entryStatus())
end

-- A side panel that slides in over the styles page from its right edge and out again. It is as
-- tall as the page and at most 260 pixels wide.
local function sidePanelWidth(w)
    return math.min(260, w * 2 // 5)
end

local function placeSidePanel(w, h)
    local width = sidePanelWidth(w)
    demo.side:setGeometry(demo.sideShown and w - width or w, 0, width, h)
end

local function toggleSidePanel()
    local _, _, w, h = demo.page:geometry()
    local width = sidePanelWidth(w)
    demo.sideShown = not demo.sideShown
    local x = demo.sideShown and w - width or w
    local fromX = demo.sideShown and w or w - width
    demo.side:show()
    mainWindow:animate(demo.side, fromX, 0, width, h, x, 0, width, h)
end

-- The translucent message-box style goes over an opaque ground, so nothing behind shows through.
local function paintSidePanel()
    local w, h = lcdCanvas:size()
    lcdCanvas:fill(0, 0, w, h, 0x1E1E1E)
    lcdCanvas:gradient(0, 0, w, h, 0x283040, 'msgbox.panel')
    lcdCanvas:text(16, 16, 'Side panel', 18, 'white')
    lcdCanvas:text(16, 48, 'Tap here to close', 12, 'lightgray')
end

-- The status bar speaks for the page in front. The tab widget reports no change of page, so the
-- clock looks at every tick; each page gives its line when it comes to the front.
local function pageStatus(page)
    return documents.status(page) or devices.status(page) or services.status(page)
        or mediapage.status(page) or (demo.status[page] and demo.status[page]())
end

local function followFrontPage()
    local front = rootWidget:currentWidget()
    if rawequal(front, demo.front) then
        return
    end
    demo.front = front
    mainWindow:setText(front and pageStatus(front) or "")
end

local function startClock()
    demo.clock = qt.Timer.create()
    demo.clock:setTimeout(40)
    demo.frames = 0
    function demo.clock:onTimeout()
        demo.frames = (demo.frames + 1) % 25
        demo.timecode = os.date('%H:%M:%S') .. string.format(':%02d', demo.frames)
        demo.page:update()
        followFrontPage()
    end
    demo.clock:start()
end

local function makeStatusLines()
    demo.status = {
        [demo.page] = function() return "Styles - tap a sample; the logo opens the side panel" end,
        [demo.keypad] = entryStatus,
        [demo.console] = function() return "Log - the events that reach MsgHandler, newest last" end,
        [demo.second] = function() return "Drag this tab out into a window of its own" end,
    }
end

function demo.onStartup()
    demo.page = qt.QWidget.create(nil, false)
    demo.page:setTitle("Styles")
    rootWidget:insertWidget(demo.page)
    demo.side = qt.QWidget.create(demo.page, false)
    layoutStyles(select(3, demo.page:geometry()))
    demo.keypad = makeKeypad()
    rootWidget:insertWidget(demo.keypad)
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
    makeStatusLines()
    demo.front = demo.page
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
        paintSidePanel()
    elseif rawequal(handle, demo.page) then
        paintPanel(lcdCanvas)
    elseif rawequal(handle, demo.keypad) then
        local w, h = lcdCanvas:size()
        lcdCanvas:fill(0, 0, w, h, 0x1E1E1E)
    elseif rawequal(handle, demo.second) then
        local w, h = lcdCanvas:size()
        lcdCanvas:gradient(0, 0, w, h, 0x303030, 'panel.gradient')
        lcdCanvas:graphic('smptebars', {x = 40, y = 40, w = w - 80, h = h - 80})
    end
end

local function describePress(pressed)
    local state = states[pressed.state]
    return string.format("Pressed %s (%s)", styles[pressed.style],
        state == '' and 'normal' or state)
end

function demo.onTouchPress(handle, x, y)
    if rawequal(handle, demo.side) then
        toggleSidePanel()
        return 0
    end
    if not rawequal(handle, demo.page) then
        return 0
    end
    if onLogo(x, y) then
        toggleSidePanel()
        return 0
    end
    demo.pressed = hit(x, y)
    if demo.pressed then
        mainWindow:setText(describePress(demo.pressed))
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
    if rawequal(handle, demo.page) then
        layoutStyles(w, h)
        placeSidePanel(w, h)
    elseif not documents.onResize(handle, w, h) then
        devices.onResize(handle, w, h)
    end
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

function demo.onError(handle, reason, text)
    devices.onError(handle, reason, text)
end

function demo.onFootConnected(_, product)
    devices.onFootConnected(product)
end

function demo.onFootDisconnected(_, product)
    devices.onFootDisconnected(product)
end

function demo.onShutdown()
    documents.onShutdown()
    print("demo: shutting down")
end
