-- The services page: announces this remote's OSC server on the local network and lists every
-- remote found there, each with the host and port it resolves to. A tap on another remote's row
-- tells that remote over TCP (OSC, size-framed); what the others said shows below the list.
local qt = require 'qt.core'
local bonjour = require 'bonjour.core'
local net = require 'net.core'
local osc = net.osc

local page = {}

local serviceType = '_remote._tcp'
local port = 0 -- the server's, once it listens
local rowTop, rowHeight = 84, 46
local found = {} -- name -> {host = ..., port = ..., socket = ...}; no host while it resolves
local names = {} -- the names in the order they were found
local resolving = {} -- full name -> name

-- A name the other remotes can tell apart: with the machine's hardware address when it has one,
-- and the port, so two copies on one machine differ too.
local function ownName()
    local id = bonjour.machineID()
    return (id == '' and 'Remote' or 'Remote ' .. id) .. ' :' .. port
end

local sockets = {} -- every socket of the page -> {rest = unframed bytes}

-- The full name that onResolved reports: dots and backslashes inside the name are escaped.
local function fullName(name, domain)
    local escaped = name:gsub('\\', '\\\\'):gsub('%.', '\\.')
    if domain:sub(-1) ~= '.' then
        domain = domain .. '.'
    end
    return escaped .. '.' .. serviceType .. '.' .. domain
end

function page.onServiceAdded(type, name, domain)
    if found[name] then
        return
    end
    found[name] = {}
    names[#names + 1] = name
    resolving[fullName(name, domain)] = name
    page.bonjour:resolve(type, name, domain)
    page.widget:update()
end

function page.onServiceRemoved(name)
    found[name] = nil
    for i, n in ipairs(names) do
        if n == name then
            table.remove(names, i)
            break
        end
    end
    page.widget:update()
end

function page.onResolved(full, host, servicePort)
    local name = resolving[full]
    resolving[full] = nil
    if name and found[name] then
        found[name].host, found[name].port = host, servicePort
        if name ~= page.name then
            local socket = net.TcpSocket.create()
            sockets[socket] = {rest = ''}
            socket:connect(host, servicePort)
            found[name].socket = socket
        end
        page.widget:update()
    end
end

local function heard(packet)
    local address, from = osc.decode(packet)
    if address == '/press' and type(from) == 'string' then
        page.heard = from .. ' pressed this remote'
        page.widget:update()
    end
end

-- The events of the server and of the connections, both ways.
local socketEvents = {
    onNewConnection = function(_, client) sockets[client] = {rest = ''} end,
    onReadyRead = function(socket)
        local state = sockets[socket]
        local packets
        packets, state.rest = osc.unframe(state.rest .. socket:read())
        for _, packet in ipairs(packets or {}) do
            heard(packet)
        end
    end,
    onError = function(socket, why)
        page.problem = 'connection failed: ' .. tostring(why)
        page.widget:update()
    end,
}

-- A tap on another remote's row tells it, once it is connected.
local function tapped(y)
    local name = names[(y - rowTop) // rowHeight + 1]
    local service = name and found[name]
    if service and service.socket and service.socket:state() == 'connected' then
        service.socket:write(osc.frame(osc.encode('/press', page.name)))
        page.sent = 'told ' .. name
        page.widget:update()
    end
end

-- A failure is shown on the page until the next one: a remote that never appears says why.
function page.onServiceError(what, why, name)
    page.problem = string.format('%s of %s failed: %s', what, name, why)
    page.widget:update()
end

local function paint()
    local w, h = lcdCanvas:size()
    lcdCanvas:gradient(0, 0, w, h, 0x202830, 'panel.gradient')
    lcdCanvas:text(20, 16, 'Remotes on the local network', 20, 'white')
    lcdCanvas:text(20, 48, string.format('This one announces "%s" (%s, port %d)', page.name,
        serviceType, port), 13, 'lightgray')
    local y = rowTop
    if page.problem then
        lcdCanvas:text(20, 66, page.problem, 13, 'orange')
    end
    if #names == 0 then
        lcdCanvas:text(20, y, 'Looking...', 14, 'lightgray')
    end
    for _, name in ipairs(names) do
        local service = found[name]
        local own = name == page.name
        local where = service.host and string.format('%s, port %d', service.host, service.port)
            or 'resolving...'
        lcdCanvas:gradient(16, y, w - 32, 40, 0x2060A0, 'button.cell', own and 'down' or '')
        lcdCanvas:text(28, y + 10, own and name .. ' (this one)' or name, 14, 'white')
        lcdCanvas:text(w // 2, y + 10, where, 14, 'white')
        y = y + rowHeight
    end
    lcdCanvas:text(20, y + 8, 'Tap another remote to tell it; what the others tell shows here.',
        13, 'lightgray')
    for i, line in ipairs({page.sent or '', page.heard or ''}) do
        lcdCanvas:text(20, y + 8 + 22 * i, line, 14, 'gold')
    end
end

-- Makes the page, starts announcing and looking, and returns the page's widget.
function page.create()
    page.widget = qt.QWidget.create(nil, false)
    page.widget:setTitle('Services')
    page.server = net.TcpServer.create()
    page.server:listen(0)
    port = page.server:port()
    sockets[page.server] = {}
    page.name = ownName()
    page.bonjour = bonjour.Bonjour.create()
    page.bonjour:publish(serviceType, page.name, port)
    page.bonjour:subscribe(serviceType)
    return page.widget
end

-- The status line of the page, or nil for any other page.
function page.status(widget)
    if rawequal(widget, page.widget) then
        return string.format('Services - announces "%s" and lists the remotes found', page.name)
    end
end

-- Answers the page's own events, and says whether the event was one of them. The steady tick of
-- the Bonjour object is one, and nothing here wants it.
function page.handle(handle, event, ...)
    if page.bonjour and rawequal(handle, page.bonjour) then
        local handler = page[event]
        if handler then
            handler(...)
        end
        return true
    end
    if sockets[handle] then
        local handler = socketEvents[event]
        if handler then
            handler(handle, ...)
        end
        return true
    end
    if page.widget and rawequal(handle, page.widget) and event == 'onPaint' then
        paint()
        return true
    end
    if page.widget and rawequal(handle, page.widget) and event == 'onTouchPress' then
        tapped(select(2, ...))
        return true
    end
    return false
end

return page
