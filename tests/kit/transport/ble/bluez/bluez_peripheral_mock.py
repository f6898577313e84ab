'''BlueZ as a GATT peripheral application meets it, for python-dbusmock.

Owns org.bluez on the system bus with an object manager at "/", adapters
(org.bluez.Adapter1 with org.bluez.GattManager1 and
org.bluez.LEAdvertisingManager1, as BlueZ's D-Bus API documents them) and
the devices of connected centrals (org.bluez.Device1). Registering an
application makes the mock read its object tree (GetManagedObjects), check
it, and from then on act as centrals towards it the way bluetoothd does:
enabling notifications calls StartNotify for the first subscriber and
StopNotify after the last, a write calls WriteValue with the "device",
"link" and "mtu" options, and a change of a notifying characteristic's
Value goes to every subscribed central, cut to its MTU less 3.

The test drives the centrals through org.freedesktop.DBus.Mock on "/":
AddAdapter, RemoveAdapter, SetPowered, Connect, Disconnect, Subscribe,
Unsubscribe, Write, Refuse, GetApplication, GetAdvertisement; what a
central receives comes as the signal Notified(device, value).
'''

import re

import dbus
import dbus.service

from dbusmock import MOCK_IFACE, mockobject

BUS_NAME = 'org.bluez'
MAIN_OBJ = '/'
SYSTEM_BUS = True
IS_OBJECT_MANAGER = True

ADAPTER = 'org.bluez.Adapter1'
DEVICE = 'org.bluez.Device1'
GATT_MANAGER = 'org.bluez.GattManager1'
ADVERTISING_MANAGER = 'org.bluez.LEAdvertisingManager1'
GATT_SERVICE = 'org.bluez.GattService1'
GATT_CHARACTERISTIC = 'org.bluez.GattCharacteristic1'
ADVERTISEMENT = 'org.bluez.LEAdvertisement1'
OBJECT_MANAGER = 'org.freedesktop.DBus.ObjectManager'

# The longest attribute value ATT allows.
MAX_VALUE_LENGTH = 512
CALL_TIMEOUT = 10

FLAGS = {
    'broadcast', 'read', 'write-without-response', 'write', 'notify', 'indicate', 'authenticated-signed-writes',
    'extended-properties', 'reliable-write', 'writable-auxiliaries', 'encrypt-read', 'encrypt-write',
    'encrypt-notify', 'encrypt-indicate', 'encrypt-authenticated-read', 'encrypt-authenticated-write',
    'encrypt-authenticated-notify', 'encrypt-authenticated-indicate', 'secure-read', 'secure-write',
    'secure-notify', 'secure-indicate', 'authorize',
}
UUID = re.compile(r'^[0-9a-fA-F]{8}-[0-9a-fA-F]{4}-[0-9a-fA-F]{4}-[0-9a-fA-F]{4}-[0-9a-fA-F]{12}$')


def error(name, message):
    return dbus.exceptions.DBusException(message, name=name)


class Application:
    '''A registered GATT application: its owner, root and object tree.'''

    def __init__(self, adapter, owner, path, objects):
        self.adapter = adapter
        self.owner = owner
        self.path = path
        self.objects = objects
        # characteristic path -> set of subscribed device paths
        self.subscribers = {}

    def characteristic(self, uuid):
        for path, interfaces in self.objects.items():
            props = interfaces.get(GATT_CHARACTERISTIC)
            if props is not None and str(props['UUID']).lower() == uuid.lower():
                return path, [str(f) for f in props['Flags']]
        return None, None


class Central:
    '''Everything the mock knows about applications and centrals.'''

    def __init__(self, mock):
        self.mock = mock
        self.bus = mock.connection
        self.adapters = []
        self.applications = []
        # adapter path -> (owner, path, properties)
        self.advertisements = {}
        # device path -> MTU
        self.devices = {}
        self.refusals = {}
        self.bus.add_signal_receiver(self.properties_changed, signal_name='PropertiesChanged',
                                     dbus_interface=dbus.PROPERTIES_IFACE, sender_keyword='sender',
                                     path_keyword='path')

    def refusal(self, method):
        name = self.refusals.pop(method, None)
        if name is not None:
            raise error(name, f'{method} refused by the test')

    def watch_owner(self, owner):
        # BlueZ forgets whatever a client registered once it leaves the bus.
        def gone(new_owner):
            if new_owner:
                return
            self.applications = [a for a in self.applications if a.owner != owner]
            for adapter in [a for a, (o, _, _) in self.advertisements.items() if o == owner]:
                del self.advertisements[adapter]
        self.bus.watch_name_owner(owner, gone)

    def register_application(self, adapter, owner, path):
        self.refusal('RegisterApplication')
        if any(a.owner == owner and a.path == path for a in self.applications):
            raise error('org.bluez.Error.AlreadyExists', 'Application already registered')
        try:
            objects = self.bus.call_blocking(owner, path, OBJECT_MANAGER, 'GetManagedObjects', '', [],
                                             timeout=CALL_TIMEOUT)
        except dbus.exceptions.DBusException as e:
            raise error('org.bluez.Error.Failed', f'Failed to read the application: {e}') from e
        check_tree(path, objects)
        self.applications.append(Application(adapter, owner, path, objects))
        self.watch_owner(owner)

    def unregister_application(self, adapter, owner, path):
        found = [a for a in self.applications if a.adapter == adapter and a.owner == owner and a.path == path]
        if not found:
            raise error('org.bluez.Error.DoesNotExist', 'No such application')
        self.applications.remove(found[0])

    def register_advertisement(self, adapter, owner, path):
        self.refusal('RegisterAdvertisement')
        if adapter in self.advertisements:
            raise error('org.bluez.Error.AlreadyExists', 'Advertisement already registered')
        try:
            props = self.bus.call_blocking(owner, path, dbus.PROPERTIES_IFACE, 'GetAll', 's', [ADVERTISEMENT],
                                           timeout=CALL_TIMEOUT)
        except dbus.exceptions.DBusException as e:
            raise error('org.bluez.Error.Failed', f'Failed to read the advertisement: {e}') from e
        if props.get('Type') not in ('broadcast', 'peripheral'):
            raise error('org.bluez.Error.InvalidArguments', 'Type must be "broadcast" or "peripheral"')
        for uuid in props.get('ServiceUUIDs', []):
            if not UUID.match(str(uuid)):
                raise error('org.bluez.Error.InvalidArguments', f'Not a UUID: {uuid}')
        self.advertisements[adapter] = (owner, path, props)
        self.watch_owner(owner)

    def unregister_advertisement(self, adapter, owner, path):
        current = self.advertisements.get(adapter)
        if current is None or current[0] != owner or current[1] != path:
            raise error('org.bluez.Error.DoesNotExist', 'No such advertisement')
        del self.advertisements[adapter]

    def release_advertisement(self, adapter):
        current = self.advertisements.pop(adapter, None)
        if current is not None:
            message = dbus.lowlevel.MethodCallMessage(current[0], current[1], ADVERTISEMENT, 'Release')
            message.set_no_reply(True)
            self.bus.send_message(message)

    def application_for(self, device):
        adapter = device.rsplit('/', 1)[0]
        for application in self.applications:
            if application.adapter == adapter:
                return application
        raise error('org.bluez.Error.Failed', 'No application on the device\'s adapter')

    def subscribe(self, device, uuid):
        application = self.application_for(device)
        path, flags = application.characteristic(uuid)
        if path is None or 'notify' not in flags:
            raise error('org.bluez.Error.NotPermitted', 'The characteristic does not notify')
        subscribers = application.subscribers.setdefault(path, set())
        if device in subscribers:
            return
        subscribers.add(device)
        if len(subscribers) == 1:
            self.bus.call_blocking(application.owner, path, GATT_CHARACTERISTIC, 'StartNotify', '', [],
                                   timeout=CALL_TIMEOUT)

    def unsubscribe(self, device, uuid=None):
        for application in self.applications:
            for path, subscribers in application.subscribers.items():
                if device not in subscribers:
                    continue
                if uuid is not None and application.characteristic(uuid)[0] != path:
                    continue
                subscribers.discard(device)
                if not subscribers:
                    self.bus.call_blocking(application.owner, path, GATT_CHARACTERISTIC, 'StopNotify', '', [],
                                           timeout=CALL_TIMEOUT)

    def write(self, device, uuid, value, kind):
        application = self.application_for(device)
        path, flags = application.characteristic(uuid)
        needed = 'write-without-response' if kind == 'command' else 'write'
        if path is None or needed not in flags:
            raise error('org.bluez.Error.NotPermitted', 'Write not permitted')
        mtu = self.devices[device]
        if len(value) > mtu - 3:
            raise error('org.bluez.Error.InvalidValueLength', 'Longer than the link carries')
        options = dbus.Dictionary({'device': dbus.ObjectPath(device), 'link': 'LE', 'mtu': dbus.UInt16(mtu),
                                   'type': kind}, signature='sv')
        self.bus.call_blocking(application.owner, path, GATT_CHARACTERISTIC, 'WriteValue', 'aya{sv}',
                               [dbus.Array(value, signature='y'), options], timeout=CALL_TIMEOUT)

    def properties_changed(self, interface, changed, _invalidated, sender=None, path=None):
        if interface != GATT_CHARACTERISTIC or 'Value' not in changed:
            return
        for application in self.applications:
            if application.owner != sender:
                continue
            for device in sorted(application.subscribers.get(path, set())):
                length = min(self.devices.get(device, 23) - 3, MAX_VALUE_LENGTH)
                value = dbus.Array(changed['Value'][:length], signature='y')
                self.mock.EmitSignal(MOCK_IFACE, 'Notified', 'oay', [dbus.ObjectPath(device), value])


def check_tree(root, objects):
    '''Refuses a tree the way bluetoothd would: services and characteristics
    below the root, with the documented properties and flags.'''
    services = set()
    for path, interfaces in objects.items():
        if not str(path).startswith(root.rstrip('/') + '/'):
            raise error('org.bluez.Error.Failed', f'{path} is not below {root}')
        service = interfaces.get(GATT_SERVICE)
        if service is not None:
            if not UUID.match(str(service.get('UUID', ''))) or not isinstance(service.get('Primary'), dbus.Boolean):
                raise error('org.bluez.Error.Failed', f'{path}: a service needs UUID (s) and Primary (b)')
            services.add(str(path))
    if not services:
        raise error('org.bluez.Error.Failed', 'No valid service object found')
    for path, interfaces in objects.items():
        chrc = interfaces.get(GATT_CHARACTERISTIC)
        if chrc is None:
            continue
        if not UUID.match(str(chrc.get('UUID', ''))):
            raise error('org.bluez.Error.Failed', f'{path}: no valid UUID')
        if not isinstance(chrc.get('Service'), dbus.ObjectPath) or str(chrc['Service']) not in services:
            raise error('org.bluez.Error.Failed', f'{path}: Service does not name a service of the tree')
        flags = chrc.get('Flags')
        if not isinstance(flags, dbus.Array) or not flags or any(str(f) not in FLAGS for f in flags):
            raise error('org.bluez.Error.Failed', f'{path}: Flags must list known flags')
        if ('notify' in flags or 'indicate' in flags) and 'Value' not in chrc:
            raise error('org.bluez.Error.Failed', f'{path}: notifies without a Value')


class Adapter(mockobject.DBusMockObject):
    '''An adapter with the GATT and LE advertising managers.'''

    def __init__(self, mock, path, address, powered):
        super().__init__(mock.bus_name, path, ADAPTER, {
            'Address': dbus.String(address),
            'AddressType': dbus.String('public'),
            'Name': dbus.String('mock'),
            'Alias': dbus.String('mock'),
            'Class': dbus.UInt32(0),
            'Powered': dbus.Boolean(powered),
            'Discoverable': dbus.Boolean(False),
            'Pairable': dbus.Boolean(True),
            'Discovering': dbus.Boolean(False),
            'UUIDs': dbus.Array([], signature='s'),
            'Roles': dbus.Array(['central', 'peripheral'], signature='s'),
        })
        self.central = mock.central
        self.logfile = mock.logfile
        self.is_logfile_owner = False
        self.object_manager = mock
        self.props[GATT_MANAGER] = dbus.Dictionary({}, signature='sv')
        self.props[ADVERTISING_MANAGER] = dbus.Dictionary({
            'ActiveInstances': dbus.Byte(0),
            'SupportedInstances': dbus.Byte(4),
            'SupportedIncludes': dbus.Array(['tx-power', 'appearance', 'local-name'], signature='s'),
        }, signature='sv')

    def count_advertisements(self):
        active = 1 if self.path in self.central.advertisements else 0
        self.props[ADVERTISING_MANAGER]['ActiveInstances'] = dbus.Byte(active)
        self.props[ADVERTISING_MANAGER]['SupportedInstances'] = dbus.Byte(4 - active)

    @dbus.service.method(GATT_MANAGER, in_signature='oa{sv}', out_signature='', sender_keyword='sender')
    def RegisterApplication(self, application, _options, sender=None):
        self.central.register_application(self.path, sender, str(application))

    @dbus.service.method(GATT_MANAGER, in_signature='o', out_signature='', sender_keyword='sender')
    def UnregisterApplication(self, application, sender=None):
        self.central.unregister_application(self.path, sender, str(application))

    @dbus.service.method(ADVERTISING_MANAGER, in_signature='oa{sv}', out_signature='', sender_keyword='sender')
    def RegisterAdvertisement(self, advertisement, _options, sender=None):
        if not self.props[ADAPTER]['Powered']:
            raise error('org.bluez.Error.Failed', 'Not powered')
        self.central.register_advertisement(self.path, sender, str(advertisement))
        self.count_advertisements()

    @dbus.service.method(ADVERTISING_MANAGER, in_signature='o', out_signature='', sender_keyword='sender')
    def UnregisterAdvertisement(self, advertisement, sender=None):
        self.central.unregister_advertisement(self.path, sender, str(advertisement))
        self.count_advertisements()


def load(mock, _parameters):
    mock.central = Central(mock)


def adapter_path(name):
    return '/org/bluez/' + name


def disconnect(mock, device):
    mock.central.unsubscribe(device)
    mockobject.objects[device].UpdateProperties(DEVICE, {'Connected': dbus.Boolean(False)})


@dbus.service.method(MOCK_IFACE, in_signature='sb', out_signature='o')
def AddAdapter(self, name, powered):
    path = adapter_path(name)
    address = f'00:1A:7D:DA:71:{len(self.central.adapters):02X}'
    self.central.adapters.append(path)
    mockobject.objects[path] = Adapter(self, path, address, powered)
    self.object_manager_emit_added(path)
    return path


@dbus.service.method(MOCK_IFACE, in_signature='s', out_signature='')
def RemoveAdapter(self, name):
    path = adapter_path(name)
    self.central.release_advertisement(path)
    self.central.applications = [a for a in self.central.applications if a.adapter != path]
    for device in [d for d in mockobject.objects if d.startswith(path + '/')]:
        self.object_manager_emit_removed(device)
        mockobject.objects[device].remove_from_connection()
        del mockobject.objects[device]
        self.central.devices.pop(device, None)
    self.object_manager_emit_removed(path)
    mockobject.objects[path].remove_from_connection()
    del mockobject.objects[path]


@dbus.service.method(MOCK_IFACE, in_signature='sb', out_signature='')
def SetPowered(self, name, powered):
    path = adapter_path(name)
    if not powered:
        # Links drop with the radio.
        for device in [d for d in self.central.devices if d.startswith(path + '/')]:
            if mockobject.objects[device].props[DEVICE]['Connected']:
                disconnect(self, device)
    mockobject.objects[path].UpdateProperties(ADAPTER, {'Powered': dbus.Boolean(powered)})


@dbus.service.method(MOCK_IFACE, in_signature='ssq', out_signature='o')
def Connect(self, name, address, mtu):
    adapter = adapter_path(name)
    path = adapter + '/dev_' + address.replace(':', '_')
    self.central.devices[path] = int(mtu)
    if path in mockobject.objects:
        mockobject.objects[path].UpdateProperties(DEVICE, {'Connected': dbus.Boolean(True)})
        return path
    self.AddObject(path, DEVICE, {
        'Address': dbus.String(address),
        'AddressType': dbus.String('random'),
        'Name': dbus.String('Phone ' + address[-2:]),
        'Alias': dbus.String('Phone ' + address[-2:]),
        'Adapter': dbus.ObjectPath(adapter),
        'Paired': dbus.Boolean(False),
        'Connected': dbus.Boolean(True),
        'ServicesResolved': dbus.Boolean(False),
    }, [])
    self.object_manager_emit_added(path)
    return path


@dbus.service.method(MOCK_IFACE, in_signature='o', out_signature='')
def Disconnect(self, device):
    disconnect(self, str(device))


@dbus.service.method(MOCK_IFACE, in_signature='os', out_signature='')
def Subscribe(self, device, uuid):
    self.central.subscribe(str(device), str(uuid))


@dbus.service.method(MOCK_IFACE, in_signature='os', out_signature='')
def Unsubscribe(self, device, uuid):
    self.central.unsubscribe(str(device), str(uuid))


@dbus.service.method(MOCK_IFACE, in_signature='osays', out_signature='')
def Write(self, device, uuid, value, kind):
    self.central.write(str(device), str(uuid), value, str(kind))


@dbus.service.method(MOCK_IFACE, in_signature='ss', out_signature='')
def Refuse(self, method, name):
    '''Makes the next call of `method` fail with the error `name`.'''
    self.central.refusals[str(method)] = str(name)


@dbus.service.method(MOCK_IFACE, in_signature='s', out_signature='a{oa{sa{sv}}}')
def GetApplication(self, name):
    '''The object tree of the application registered on the adapter, as it
    was read; empty when there is none.'''
    for application in self.central.applications:
        if application.adapter == adapter_path(name):
            return application.objects
    return dbus.Dictionary({}, signature='oa{sa{sv}}')


@dbus.service.method(MOCK_IFACE, in_signature='s', out_signature='a{sv}')
def GetAdvertisement(self, name):
    '''The properties of the advertisement registered on the adapter, as
    they were read; empty when there is none.'''
    current = self.central.advertisements.get(adapter_path(name))
    return current[2] if current else dbus.Dictionary({}, signature='sv')
