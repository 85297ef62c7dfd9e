-- The demo application: one page in the main window's tab widget, the status text, and a log of
-- the events that arrive.
local qt = require 'qt.core'

local demo = {}

local function describe(handle)
    if handle == nil then
        return "-"
    end
    return getmetatable(handle).__classname
end

function MsgHandler(handle, event, ...)
    local args = {...}
    for i = 1, #args do
        args[i] = tostring(args[i])
    end
    print(string.format("event %s %s %s", event, describe(handle), table.concat(args, " ")))
    local handler = demo[event]
    if handler then
        return handler(handle, ...) or 0
    end
    return 0
end

function demo.onStartup()
    demo.page = qt.QWidget.create(nil, false)
    demo.page:setTitle("Demo")
    rootWidget:insertWidget(demo.page)
    demo.second = qt.QWidget.create(nil, false)
    demo.second:setTitle("Drag me out")
    rootWidget:insertWidget(demo.second)
    rootWidget:setCurrentWidget(demo.page)
    mainWindow:setText("Ready - " .. applicationFileName .. (wantSettings and " (settings)" or ""))
end

function demo.onTouchPress(handle, x, y)
    mainWindow:setText(string.format("Touched %s at %d, %d", describe(handle), x, y))
end

function demo.onShutdown()
    print("demo: shutting down")
end
