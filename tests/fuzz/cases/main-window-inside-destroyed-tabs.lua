-- Before the fix: the main window could be put into another tab widget as a page; destroying that
-- tab widget deleted the main window, and with it the interpreter, while Lua was still running
-- (the host hung or crashed).
local qt = require 'qt.core'

local step = qt.Timer.create()
local ticks = 0
local tabs

function MsgHandler(h, event)
    if event == 'onStartup' then
        step:setTimeout(10)
        step:start()
    end
    return 0
end

function step:onTimeout()
    ticks = ticks + 1
    if ticks == 2 then
        tabs = qt.TabWidget.create(nil)
        print('insert', pcall(tabs.insertWidget, tabs, mainWindow))
    elseif ticks == 3 then
        print('destroy', pcall(tabs.destroy, tabs))
    elseif ticks > 6 then
        step:stop()
        print('case done')
        mainWindow:close()
    end
end
