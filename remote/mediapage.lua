-- The media page: records the microphone to an MP3 file with a live level meter, then plays the
-- recording back with a transport panel (step back, play and pause, stop, fast forward, step
-- forward) and a play region marked while listening. The application hands the page the events
-- of its own handles:
--   if mediapage.owns(handle) then return mediapage.event(handle, name, ...) end
local qt = require 'qt.core'
local recorder = require 'recorder.core'
local player = require 'player.core'

local mediapage = {}

local recording = (os.getenv('TMPDIR') or '/tmp') .. '/remote-demo-recording.mp3'
local page, meter, mic, transport
local buttons = {}
local shown = {level = 0, recorder = 'stop', file = nil,
    status = {'stop', 'nomedia', 0, 0, 0, 0, ''}, regionIn = nil, regionOut = nil}

local function timecode(ms)
    local tenths = math.floor(ms / 100)
    return string.format('%02d:%02d.%d', tenths // 600, tenths // 10 % 60, tenths % 10)
end

local function position()
    return shown.status[3]
end

local function applyRegion()
    if shown.regionIn or shown.regionOut then
        transport:setRegion(shown.regionIn or 0, shown.regionOut or -1)
    else
        transport:setRegion()
    end
    page:update()
end

local actions = {
    record = function() mic:record(recording) end,
    recordstop = function() mic:recordstop() end,
    stepBack = function() transport:step(-1) end,
    play = function() transport:play() end,
    stop = function() transport:stop() end,
    ffwd = function() transport:ffwd() end,
    stepForward = function() transport:step(1) end,
    markIn = function() shown.regionIn = math.floor(position()) applyRegion() end,
    markOut = function() shown.regionOut = math.floor(position()) applyRegion() end,
    whole = function() shown.regionIn, shown.regionOut = nil, nil applyRegion() end,
}

-- Each button: its action, and an icon or a label; the play button shows what it will do.
local layout = {
    {'record', 20, 56, icon = 'microphone', color = 0x802020},
    {'recordstop', 96, 56, icon = 'stop'},
    {'stepBack', 20, 236, label = '|<'},
    {'play', 96, 236, icon = function() return shown.status[1] == 'play' and 'pause' or 'play' end},
    {'stop', 172, 236, icon = 'stop'},
    {'ffwd', 248, 236, label = '>>'},
    {'stepForward', 324, 236, label = '>|'},
    {'markIn', 20, 300, label = 'In'},
    {'markOut', 96, 300, label = 'Out'},
    {'whole', 172, 300, label = 'All'},
}

function mediapage.create()
    page = qt.QWidget.create(nil, false)
    page:setTitle('Media')
    meter = qt.QWidget.create(page)
    meter:setGeometry(172, 62, 360, 28)
    for _, entry in ipairs(layout) do
        local button = qt.PushButton.create(page)
        button:setGeometry(entry[2], entry[3], 68, 44)
        buttons[button] = entry
    end
    mic = recorder.create()
    mic:start()
    transport = player.create(page)
    return page
end

-- The status line of the page, or nil for any other page.
function mediapage.status(widget)
    if rawequal(widget, page) then
        return 'Media - record the microphone, then play the recording back'
    end
end

function mediapage.owns(handle)
    return handle ~= nil and (rawequal(handle, page) or rawequal(handle, meter)
        or rawequal(handle, mic) or rawequal(handle, transport) or buttons[handle] ~= nil)
end

local function paintPage()
    local w, h = lcdCanvas:size()
    lcdCanvas:gradient(0, 0, w, h, 0x202830, 'panel.gradient')
    lcdCanvas:text(20, 20, 'Microphone', 16, 'white')
    local what = shown.recorder == 'record' and ('Recording to ' .. recording) or 'Level'
    lcdCanvas:text(172, 38, what, 12, shown.recorder == 'record' and 'red' or 'lightgray')
    lcdCanvas:text(20, 130, 'Playback', 16, 'white')
    local s = shown.status
    lcdCanvas:gradient(20, 160, 380, 56, 'black', 'timecode')
    lcdCanvas:text(36, 172, timecode(s[3]) .. ' / ' .. timecode(s[4]), 24, 'orange')
    lcdCanvas:text(420, 172, s[1] .. '  ' .. s[2], 12, 'lightgray')
    lcdCanvas:text(420, 192, 'region ' .. timecode(s[5]) .. ' of ' .. timecode(s[6]), 12,
        'lightgray')
    local region = string.format('In %s   Out %s',
        shown.regionIn and timecode(shown.regionIn) or '--',
        shown.regionOut and timecode(shown.regionOut) or '--')
    lcdCanvas:text(248, 312, region, 14, 'white')
    if s[7] ~= '' then
        lcdCanvas:text(20, 360, s[7], 12, 'red')
    end
end

-- Green, then yellow from 70 % of full scale, red from 90 %.
local function paintMeter()
    local w, h = lcdCanvas:size()
    lcdCanvas:fill(0, 0, w, h, 'black')
    local lit = w * shown.level // 255
    local from = 0
    for _, zone in ipairs({{0.7, 'green'}, {0.9, 'yellow'}, {1.0, 'red'}}) do
        local to = math.floor(w * zone[1])
        if lit > from then
            lcdCanvas:fill(from, 3, math.min(lit, to) - from, h - 6, zone[2])
        end
        from = to
    end
end

local function paintButton(handle)
    local entry = buttons[handle]
    local w, h = lcdCanvas:size()
    lcdCanvas:gradient(0, 0, w, h, entry.color or 0x404040, 'button', handle:state())
    local icon = type(entry.icon) == 'function' and entry.icon() or entry.icon
    if icon then
        lcdCanvas:graphic(icon, {x = w // 2 - 10, y = h // 2 - 10, w = 20, h = 20})
    else
        lcdCanvas:text(w // 2 - 10, h // 2 - 9, entry.label, 14, 'white')
    end
end

local handlers = {}

function handlers.onPaint(handle)
    if rawequal(handle, page) then
        paintPage()
    elseif rawequal(handle, meter) then
        paintMeter()
    else
        paintButton(handle)
    end
end

function handlers.onClick(handle)
    actions[buttons[handle][1]]()
end

-- The recorder reports a level per captured block; the player its seven status values.
function handlers.onStatus(handle, ...)
    if rawequal(handle, mic) then
        shown.recorder, shown.level = ...
        meter:update()
        return
    end
    shown.status = {...}
    page:update()
    for button in pairs(buttons) do
        button:update()
    end
end

-- A finished recording is opened for playback at once.
function handlers.onFileStatus(_, name)
    if name ~= '' then
        shown.file = name
    elseif shown.file then
        shown.file = nil
        shown.regionIn, shown.regionOut = nil, nil
        transport:open(recording)
    end
    page:update()
end

function mediapage.event(handle, name, ...)
    local handler = handlers[name]
    if handler then
        handler(handle, ...)
    end
    return 0
end

return mediapage
