-- Before the fix: lcdCanvas:size() outside a paint, once the widget it painted last had been
-- deleted, read the dead widget through the painter's device (use after free; a crash once the
-- memory is reused, which the strings below make likely).
local qt = require 'qt.core'

local page, painted
local ticks = 0
local step = qt.Timer.create()
local filler = {}

function MsgHandler(h, event)
    if event == 'onStartup' then
        step:setTimeout(20)
        step:start()
    elseif event == 'onPaint' and rawequal(h, page) and not painted then
        painted = true
        pcall(page.destroy, page)
    end
    return 0
end

function step:onTimeout()
    ticks = ticks + 1
    if ticks == 3 then
        -- a window of its own, painted last once everything else has settled
        page = qt.QWidget.create(nil, true)
    elseif ticks > 6 and (painted or ticks > 50) then
        step:stop()
        for i = 1, 20000 do
            filler[i] = string.format('%024d', i)
        end
        print('size', pcall(lcdCanvas.size, lcdCanvas))
        print('case done')
        mainWindow:close()
    end
end
