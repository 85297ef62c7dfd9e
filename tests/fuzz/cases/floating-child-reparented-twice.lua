-- Before the fix: a widget made floating (setFloating), then put into another window, which was in
-- turn put into a third, kept a pointer to a native window Qt had deleted with the middle one;
-- the next globalPos on it read freed memory (a crash once the memory is reused, which the strings
-- below make likely).
local qt = require 'qt.core'

local ticks = 0
local step = qt.Timer.create()
local edit, text, outer
local filler = {}

function MsgHandler(h, event)
    if event == 'onStartup' then
        step:setTimeout(30)
        step:start()
    end
    return 0
end

function step:onTimeout()
    ticks = ticks + 1
    if ticks == 1 then
        edit = qt.QLineEdit.create(nil)
        pcall(edit.setFloating, edit)
        text = qt.QPlainTextEdit.create(nil)
    elseif ticks == 2 then
        pcall(edit.setParent, edit, text)
        outer = qt.QLineEdit.create(nil)
    elseif ticks == 3 then
        pcall(text.setParent, text, outer)
    elseif ticks == 4 then
        for i = 1, 20000 do
            filler[i] = string.format('%060d', i)
        end
        print('globalPos', pcall(edit.globalPos, edit, 1, 2))
    elseif ticks > 6 then
        step:stop()
        print('case done')
        mainWindow:close()
    end
end
