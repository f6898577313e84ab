'''systemd-localed stand-in for tests: org.freedesktop.locale1 with the
keyboard layout given as the X11Layout parameter (default "us"), which is
where a compositor without a desktop shell takes its layout from.
'''
import dbus

BUS_NAME = 'org.freedesktop.locale1'
MAIN_OBJ = '/org/freedesktop/locale1'
MAIN_IFACE = 'org.freedesktop.locale1'
SYSTEM_BUS = True


def load(mock, parameters):
    mock.AddProperties(MAIN_IFACE, dbus.Dictionary({
        'Locale': dbus.Array(['LANG=C.UTF-8'], signature='s'),
        'VConsoleKeymap': '',
        'VConsoleKeymapToggle': '',
        'X11Layout': parameters.get('X11Layout', 'us'),
        'X11Model': 'pc105',
        'X11Variant': parameters.get('X11Variant', ''),
        'X11Options': '',
    }, signature='sv'))
