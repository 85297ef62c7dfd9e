-- Before the fix: a top-level window made a child from its own onClose, while Qt was still
-- closing it, kept a dangling native window; using or deleting the widget afterwards crashed.
local qt = require 'qt.core'

local windows = {}
local ticks = 0
local step = qt.Timer.create()

function MsgHandler(h, event)
    if event == 'onStartup' then
        step:setTimeout(10)
        step:start()
    elseif event == 'onClose' and windows[h] == 'closing' then
        windows[h] = 'moved'
        pcall(h.setParent, h, rootWidget)
    end
    return 0
end

function step:onTimeout()
    ticks = ticks + 1
    if ticks <= 3 then
        local w = qt.QLineEdit.create(nil)
        w:setFloating()
        w:show()
        windows[w] = 'closing'
        w:close()
    elseif ticks == 5 then
        for w in pairs(windows) do
            local child = qt.QPlainTextEdit.create(nil)
            pcall(child.setParent, child, w)
            pcall(w.show, w)
        end
    elseif ticks == 7 then
        for w in pairs(windows) do
            w:destroy()
        end
    elseif ticks > 10 then
        step:stop()
        print('case done')
        mainWindow:close()
    end
end
