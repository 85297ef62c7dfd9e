-- The devices page of the demo: eight foot pedal lamps, lit while a pedal is held, and a serial
-- console (pick a port, open it, send a line, watch what arrives). The application hands the
-- page its events; the handlers of widget and port events answer whether the event was theirs.
local qt = require 'qt.core'
local serial = require 'serial.core'

local devices = {held = {}, buttons = {}}

local function log(line)
    devices.console:append(line)
end

-- Control bytes and bytes past ASCII show as \xNN, so binary data stays readable.
local function printable(bytes)
    return (bytes:gsub('[^\32-\126]', function(c) return string.format('\\x%02X', c:byte()) end))
end

local function currentPort()
    return devices.ports[devices.portIndex]
end

local function portLabel()
    return 'Port: ' .. (currentPort() or 'none')
end

local function button(label, x, y, w, action)
    local b = qt.PushButton.create(devices.page)
    b:setGeometry(x, y, w, 40)
    devices.buttons[b] = {label = label, action = action}
    return b
end

local function nextPort()
    devices.ports = {serial.ports()}
    devices.portIndex = devices.portIndex % math.max(#devices.ports, 1) + 1
    devices.portButton:update()
    mainWindow:setText(devices.status(devices.page))
end

local function openPort()
    local name = currentPort()
    if not name then
        log('no serial port to open')
        return
    end
    devices.port:open(name)
    log('opened ' .. name .. ' (38400 8O1)')
    mainWindow:setText('Serial: ' .. name)
end

local function sendLine()
    local text = devices.entry:text()
    devices.port:write(text .. '\r\n')
    log('>> ' .. printable(text))
    devices.entry:setText(nil)
end

function devices.create()
    devices.page = qt.QWidget.create(nil, false)
    devices.page:setTitle('Devices')
    devices.lamps = qt.QWidget.create(devices.page)
    devices.lamps:setGeometry(20, 20, 8 * 70, 64)
    devices.ports = {serial.ports()}
    devices.portIndex = 1
    devices.portButton = button(portLabel, 20, 104, 300, nextPort)
    button(function() return 'Open' end, 330, 104, 100, openPort)
    devices.entry = qt.QLineEdit.create(devices.page)
    devices.entry:setGeometry(20, 154, 300, 40)
    button(function() return 'Send' end, 330, 154, 100, sendLine)
    devices.console = qt.QPlainTextEdit.create(devices.page)
    devices.console:setGeometry(20, 204, 560, 260)
    devices.port = serial.SerialPort.create()
    rootWidget:insertWidget(devices.page)
end

local function paintLamps()
    local w, h = lcdCanvas:size()
    lcdCanvas:fill(0, 0, w, h, 0x1E1E1E)
    for number = 0, 7 do
        local x = number * 70
        local held = devices.held[number]
        lcdCanvas:gradient(x + 4, 4, 62, h - 8, held and 0x20A040 or 0x303030, 'button',
            held and 'down' or '')
        lcdCanvas:text(x + 26, h // 2 - 10, tostring(number), 18, held and 'white' or 'gray')
    end
end

local function paintButton(handle)
    local w, h = lcdCanvas:size()
    lcdCanvas:gradient(0, 0, w, h, 0x404040, 'button', handle:state())
    lcdCanvas:text(12, h // 2 - 9, devices.buttons[handle].label(), 14, 'white')
end

local function pedal(number, held)
    devices.held[number] = held
    devices.lamps:update()
end

function devices.onFootPress(number)
    pedal(number, true)
end

function devices.onFootRelease(number)
    pedal(number, false)
end

function devices.onReadyRead(handle)
    if not rawequal(handle, devices.port) then
        return false
    end
    log('<< ' .. printable(handle:read()))
    return true
end

function devices.onError(handle, reason, text)
    if not rawequal(handle, devices.port) then
        return false
    end
    log(string.format('serial port %s failed: %s (%s)', currentPort() or '?', reason, text))
    return true
end

function devices.onFootConnected(product)
    log('foot pedal connected: ' .. product)
end

function devices.onFootDisconnected(product)
    log('foot pedal gone: ' .. product)
end

-- The status line of the page, or nil for any other page.
function devices.status(page)
    if rawequal(page, devices.page) then
        return 'Devices - foot pedal lamps; serial ' .. portLabel()
    end
end

-- The console takes the page's height below the controls.
function devices.onResize(handle, w, h)
    if not rawequal(handle, devices.page) then
        return false
    end
    devices.console:setGeometry(20, 204, math.max(0, math.min(560, w - 40)), math.max(0, h - 224))
    return true
end

function devices.onPaint(handle)
    if rawequal(handle, devices.page) then
        local w, h = lcdCanvas:size()
        lcdCanvas:fill(0, 0, w, h, 0x1E1E1E)
    elseif rawequal(handle, devices.lamps) then
        paintLamps()
    elseif devices.buttons[handle] then
        paintButton(handle)
    else
        return false
    end
    return true
end

function devices.onClick(handle)
    local b = devices.buttons[handle]
    if b then
        b.action()
    end
    return b ~= nil
end

return devices
