-- Before the fix: a top-level window made a child from its own onMove, delivered while Qt was
-- still handling the window system's geometry change (here: maximizing), left Qt to finish that
-- change on a native window that no longer existed (crash).
local qt = require 'qt.core'

local windows = {}
local ticks = 0
local step = qt.Timer.create()

function MsgHandler(h, event)
    if event == 'onStartup' then
        step:setTimeout(10)
        step:start()
    elseif (event == 'onMove' or event == 'onResize') and windows[h] == 'maximized' then
        windows[h] = nil
        pcall(h.setParent, h, rootWidget)
    end
    return 0
end

function step:onTimeout()
    ticks = ticks + 1
    if ticks <= 3 then
        local w = qt.QDialog.create(nil)
        w:setGeometry(10 * ticks, 10 * ticks, 200, 100)
        w:show()
        windows[w] = 'maximized'
        pcall(w.setMaximized, w)
    elseif ticks > 10 then
        step:stop()
        print('case done')
        mainWindow:close()
    end
end
