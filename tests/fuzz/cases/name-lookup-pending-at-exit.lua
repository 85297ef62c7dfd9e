-- Before the fix: a datagram sent to a host name starts a lookup by the system's resolver; the
-- program ended while it was still under way, and the lookup's answer (with the datagram) was
-- left behind for a socket that had gone, which the leak checker reported.
local qt = require 'qt.core'
local net = require 'net.core'

function MsgHandler(h, event)
    if event == 'onStartup' then
        local socket = net.UdpSocket.create()
        socket:bind(0, '127.0.0.1')
        for _, name in ipairs({'gradient', 'no-such-host.invalid', 'button.compact'}) do
            socket:send(name, 4717, 'button.compact')
        end
        print('case done')
        mainWindow:close()
    end
    return 0
end
