-- The demo application: a panel of buttons in every style and state with icons, the logo and a
-- time-code display; a second page to drag out into a window of its own; the status text shows
-- what was touched last, and every event is logged.
local qt = require 'qt.core'

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
    if event ~= 'onPaint' and event ~= 'onTouchMove' then
        local args = {...}
        for i = 1, #args do
            args[i] = tostring(args[i])
        end
        print(string.format("event %s %s %s", event, describe(handle), table.concat(args, " ")))
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
    p:text(x + 18, 26, '01:23:45:12', nil, 'orange')
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

function demo.onStartup()
    demo.page = qt.QWidget.create(nil, false)
    demo.page:setTitle("Styles")
    rootWidget:insertWidget(demo.page)
    demo.second = qt.QWidget.create(nil, false)
    demo.second:setTitle("Drag me out")
    rootWidget:insertWidget(demo.second)
    rootWidget:setCurrentWidget(demo.page)
    mainWindow:setGeometry(40, 40, 1000, 720)
    mainWindow:setText("Ready - " .. applicationFileName .. (wantSettings and " (settings)" or ""))
end

function demo.onPaint(handle)
    if rawequal(handle, demo.page) then
        paintPanel(lcdCanvas)
    elseif rawequal(handle, demo.second) then
        local w, h = lcdCanvas:size()
        lcdCanvas:gradient(0, 0, w, h, 0x303030, 'panel.gradient')
        lcdCanvas:graphic('smptebars', {x = 40, y = 40, w = w - 80, h = h - 80})
    end
end

function demo.onTouchPress(handle, x, y)
    if not rawequal(handle, demo.page) then
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

function demo.onShutdown()
    print("demo: shutting down")
end
