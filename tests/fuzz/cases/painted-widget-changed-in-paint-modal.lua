-- Before the fix: a message box opened inside onPaint ran a nested loop in which the widget being
-- painted was maximized; when the box closed, Qt's paint of the widget went on over a backing
-- store that had changed under it (crash).
local qt = require 'qt.core'

local ticks = 0
local step = qt.Timer.create()
local page, opened

function MsgHandler(h, event)
    if event == 'onStartup' then
        step:setTimeout(10)
        step:start()
    elseif event == 'onPaint' and rawequal(h, page) and not opened then
        opened = true
        local anchor = qt.QWidget.create(nil, false)
        local change = qt.Timer.create()
        change:setTimeout(5)
        change:setSingleShot()
        change.onTimeout = function()
            pcall(page.setMaximized, page)
        end
        local closer = qt.Timer.create()
        closer:setTimeout(40)
        closer.onTimeout = function()
            pcall(anchor.destroy, anchor)
        end
        change:start()
        closer:start()
        pcall(anchor.msgBox, anchor, 'painting')
        closer:stop()
    end
    return 0
end

function step:onTimeout()
    ticks = ticks + 1
    if ticks == 1 then
        page = qt.PushButton.create(nil)
        page:setGeometry(10, 10, 200, 100)
        page:show()
    elseif ticks > 15 then
        step:stop()
        print('case done')
        mainWindow:close()
    end
end
