'''The desktop portal for tests: org.freedesktop.portal.Desktop with the
RemoteDesktop and ScreenCast calls of a remote-control session. Every request
is answered by the Response signal of its Request object, sent after the
method's reply as xdg-desktop-portal does once its dialog is answered.

Controlled through org.glidemate.tests.PortalControl:
- SetStartResponse(u): the user's answer to Start (0 allow, 1 refuse,
  2 another failure); 0 at first.
- HoldStart(b): while true, Start's dialog stays open: its Response waits
  for AnswerStart.
- AnswerStart(u): answers the open Start as the user would, with a code as
  above; when none is open yet, its reply waits until one comes (so a test
  waits on the call, not on a clock).
- CloseSession(): closes the last session as a desktop does.
- ReceivedSignatures(): the D-Bus signature each input call last came with.
- SetStream(u node, s socket): the stream Start hands out from now on, and
  the PipeWire daemon's socket that OpenPipeWireRemote connects to (empty:
  a connection whose far end is already gone).

Start hands out a new restore token ("token1", "token2", ...) when
SelectDevices asked for persist_mode 2, and, when SelectSources was called
for the session, one monitor stream: node 57 at (1920, 0), 1280 x 800, unless
SetStream named another node.

Parameter "version": the RemoteDesktop interface's version (default 2).'''

import socket

import dbus
import dbus.service
from gi.repository import GLib

BUS_NAME = 'org.freedesktop.portal.Desktop'
MAIN_OBJ = '/org/freedesktop/portal/desktop'
MAIN_IFACE = 'org.freedesktop.portal.RemoteDesktop'
SYSTEM_BUS = False

SCREEN_CAST = 'org.freedesktop.portal.ScreenCast'
REQUEST = 'org.freedesktop.portal.Request'
SESSION = 'org.freedesktop.portal.Session'
CONTROL = 'org.glidemate.tests.PortalControl'


def load(mock, parameters):
    mock.start_response = 0
    mock.hold_start = False
    mock.held_start = None
    mock.waiting_answer = None
    mock.tokens_given = 0
    mock.persist_mode = 0
    mock.session_path = None
    mock.sources_selected = False
    mock.signatures = {}
    mock.stream_node = 57
    mock.pipewire_socket = ''
    mock.AddProperties(MAIN_IFACE, {
        'version': dbus.UInt32(parameters.get('version', 2)),
        'AvailableDeviceTypes': dbus.UInt32(7),
    })
    mock.AddProperties(SCREEN_CAST, {
        'version': dbus.UInt32(4),
        'AvailableSourceTypes': dbus.UInt32(7),
        'AvailableCursorModes': dbus.UInt32(7),
    })


def object_path(kind, sender, token):
    return '/org/freedesktop/portal/desktop/%s/%s/%s' % (kind, sender.lstrip(':').replace('.', '_'), token)


def respond(mock, sender, options, code, results):
    '''Returns the request's handle; its Response follows the reply.'''
    path = object_path('request', sender, options['handle_token'])

    def emit():
        mock.EmitSignalDetailed(REQUEST, 'Response', 'ua{sv}',
                                [dbus.UInt32(code), dbus.Dictionary(results, signature='sv')], {'path': path})
        return False
    GLib.idle_add(emit)
    return dbus.ObjectPath(path)


@dbus.service.method(MAIN_IFACE, in_signature='a{sv}', out_signature='o', sender_keyword='sender')
def CreateSession(self, options, sender=None):
    self.session_path = object_path('session', sender, options['session_handle_token'])
    self.sources_selected = False
    self.AddObject(self.session_path, SESSION, {'version': dbus.UInt32(1)}, [('Close', '', '', '')])
    # xdg-desktop-portal hands the handle back as a string.
    return respond(self, sender, options, 0, {'session_handle': dbus.String(self.session_path)})


@dbus.service.method(MAIN_IFACE, in_signature='oa{sv}', out_signature='o', sender_keyword='sender')
def SelectDevices(self, session, options, sender=None):
    self.persist_mode = int(options.get('persist_mode', 0))
    return respond(self, sender, options, 0, {})


@dbus.service.method(SCREEN_CAST, in_signature='oa{sv}', out_signature='o', sender_keyword='sender')
def SelectSources(self, session, options, sender=None):
    self.sources_selected = True
    return respond(self, sender, options, 0, {})


def start_results(mock, code):
    results = {}
    if code == 0:
        results['devices'] = dbus.UInt32(3)
        if mock.persist_mode == 2:
            mock.tokens_given += 1
            results['restore_token'] = dbus.String('token%d' % mock.tokens_given)
    if code == 0 and mock.sources_selected:
        stream = dbus.Struct((dbus.UInt32(mock.stream_node), dbus.Dictionary({
            'position': dbus.Struct((dbus.Int32(1920), dbus.Int32(0)), signature='ii'),
            'size': dbus.Struct((dbus.Int32(1280), dbus.Int32(800)), signature='ii'),
            'source_type': dbus.UInt32(1),
        }, signature='sv')), signature='ua{sv}')
        results['streams'] = dbus.Array([stream], signature='(ua{sv})')
    return results


@dbus.service.method(MAIN_IFACE, in_signature='osa{sv}', out_signature='o', sender_keyword='sender')
def Start(self, session, parent_window, options, sender=None):
    if self.hold_start:
        self.held_start = (sender, options)
        if self.waiting_answer is not None:
            code, reply = self.waiting_answer
            self.waiting_answer = None
            answer_start(self, code)
            reply()
        return dbus.ObjectPath(object_path('request', sender, options['handle_token']))
    return respond(self, sender, options, self.start_response, start_results(self, self.start_response))


@dbus.service.method(SCREEN_CAST, in_signature='oa{sv}', out_signature='h')
def OpenPipeWireRemote(self, session, options):
    if self.pipewire_socket:
        mine = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
        mine.connect(self.pipewire_socket)
    else:
        # A connection whose far end is already gone: the stream ends at once.
        mine, theirs = socket.socketpair()
        theirs.close()
    handed = dbus.types.UnixFd(mine.fileno())
    mine.close()
    return handed


def record(self, message):
    self.signatures[message.get_member()] = message.get_signature()


@dbus.service.method(MAIN_IFACE, in_signature='oa{sv}dd', message_keyword='message')
def NotifyPointerMotion(self, session, options, dx, dy, message=None):
    record(self, message)


@dbus.service.method(MAIN_IFACE, in_signature='oa{sv}udd', message_keyword='message')
def NotifyPointerMotionAbsolute(self, session, options, stream, x, y, message=None):
    record(self, message)


@dbus.service.method(MAIN_IFACE, in_signature='oa{sv}iu', message_keyword='message')
def NotifyPointerButton(self, session, options, button, state, message=None):
    record(self, message)


@dbus.service.method(MAIN_IFACE, in_signature='oa{sv}dd', message_keyword='message')
def NotifyPointerAxis(self, session, options, dx, dy, message=None):
    record(self, message)


@dbus.service.method(MAIN_IFACE, in_signature='oa{sv}iu', message_keyword='message')
def NotifyKeyboardKeycode(self, session, options, keycode, state, message=None):
    record(self, message)


@dbus.service.method(MAIN_IFACE, in_signature='oa{sv}iu', message_keyword='message')
def NotifyKeyboardKeysym(self, session, options, keysym, state, message=None):
    record(self, message)


@dbus.service.method(CONTROL, in_signature='u', out_signature='')
def SetStartResponse(self, response):
    self.start_response = int(response)


@dbus.service.method(CONTROL, in_signature='us', out_signature='')
def SetStream(self, node, pipewire_socket):
    self.stream_node = int(node)
    self.pipewire_socket = str(pipewire_socket)


@dbus.service.method(CONTROL, in_signature='b', out_signature='')
def HoldStart(self, hold):
    self.hold_start = bool(hold)


def answer_start(mock, code):
    sender, options = mock.held_start
    mock.held_start = None
    respond(mock, sender, options, code, start_results(mock, code))


@dbus.service.method(CONTROL, in_signature='u', out_signature='', async_callbacks=('reply', 'error'))
def AnswerStart(self, code, reply=None, error=None):
    if self.held_start is None:
        self.waiting_answer = (int(code), reply)
        return
    answer_start(self, int(code))
    reply()


@dbus.service.method(CONTROL, in_signature='', out_signature='')
def CloseSession(self):
    self.EmitSignalDetailed(SESSION, 'Closed', 'a{sv}', [dbus.Dictionary({}, signature='sv')],
                            {'path': self.session_path})


@dbus.service.method(CONTROL, in_signature='', out_signature='a{ss}')
def ReceivedSignatures(self):
    return dbus.Dictionary(self.signatures, signature='ss')
