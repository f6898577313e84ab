'''A StatusNotifierWatcher for tests: the service a desktop's tray runs so
that programs can show their icons in it. It says a tray host is there and
keeps the items registered with it.'''

import dbus

BUS_NAME = 'org.kde.StatusNotifierWatcher'
MAIN_OBJ = '/StatusNotifierWatcher'
MAIN_IFACE = 'org.kde.StatusNotifierWatcher'
SYSTEM_BUS = False


def load(mock, parameters):
    mock.AddProperties(MAIN_IFACE, {
        'RegisteredStatusNotifierItems': dbus.Array([], signature='s'),
        'IsStatusNotifierHostRegistered': dbus.Boolean(True),
        'ProtocolVersion': dbus.Int32(0),
    })
    mock.AddMethods(MAIN_IFACE, [
        ('RegisterStatusNotifierItem', 's', '',
         'items = list(self.Get("%s", "RegisteredStatusNotifierItems"))\n'
         'items.append(args[0])\n'
         'self.Set("%s", "RegisteredStatusNotifierItems", dbus.Array(items, signature="s"))\n'
         'self.EmitSignal("%s", "StatusNotifierItemRegistered", "s", [args[0]])'
         % (MAIN_IFACE, MAIN_IFACE, MAIN_IFACE)),
        ('RegisterStatusNotifierHost', 's', '', ''),
    ])
