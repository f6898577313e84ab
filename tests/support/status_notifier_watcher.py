'''A tray's StatusNotifierWatcher for tests, built from python3-dbusmock.

Unlike `python3 -m dbusmock --template`, it takes the watcher's well-known
name only once its methods are in place, as a real tray does: programs that
register their icon the moment the name appears must find it ready.'''

import ctypes
import os
import sys

import dbus
import dbus.mainloop.glib
import dbus.service
import dbusmock.mockobject

TEMPLATE = os.path.join(os.path.dirname(os.path.abspath(__file__)), 'status_notifier_watcher_template.py')


def main():
    dbus.mainloop.glib.DBusGMainLoop(set_as_default=True)
    bus = dbus.SessionBus()
    running = {True}
    bus.add_signal_receiver(running.pop, signal_name='Disconnected', path='/org/freedesktop/DBus/Local',
                            dbus_interface='org.freedesktop.DBus.Local')
    staging = dbus.service.BusName('org.glidemate.tests.WatcherStaging%d' % os.getpid(), bus, do_not_queue=True)
    watcher = dbusmock.mockobject.DBusMockObject(staging, '/StatusNotifierWatcher', 'org.kde.StatusNotifierWatcher',
                                                 {})
    watcher.AddTemplate(TEMPLATE, None)
    dbusmock.mockobject.objects['/StatusNotifierWatcher'] = watcher
    if bus.request_name('org.kde.StatusNotifierWatcher', dbus.bus.NAME_FLAG_DO_NOT_QUEUE) != \
            dbus.bus.REQUEST_NAME_REPLY_PRIMARY_OWNER:
        sys.exit('org.kde.StatusNotifierWatcher is taken')
    glib = ctypes.cdll.LoadLibrary('libglib-2.0.so.0')
    while running:
        glib.g_main_context_iteration(None, True)


if __name__ == '__main__':
    main()
