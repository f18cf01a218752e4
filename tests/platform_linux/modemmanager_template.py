'''Mock template of the modem service for the Linux backend's tests.

Written from the service's published D-Bus interface: the object manager at
/org/freedesktop/ModemManager1, a modem object with the Modem, Modem3gpp, Modem3gpp.Ussd,
Location, Voice and Messaging interfaces, a SIM object, and SMS objects made by Messaging.Create.
The tests drive it through org.freedesktop.ModemManager1.Mock on the main object:
AddModem(pin), RemoveModem(), SetCell(lac, ci), SetSignal(percent), RefuseUssd(refuse).
'''

import dbus

from dbusmock import mockobject

BUS_NAME = 'org.freedesktop.ModemManager1'
MAIN_OBJ = '/org/freedesktop/ModemManager1'
MAIN_IFACE = 'org.freedesktop.ModemManager1'
SYSTEM_BUS = True
IS_OBJECT_MANAGER = True

MOCK_IFACE = 'org.freedesktop.ModemManager1.Mock'
MODEM = 'org.freedesktop.ModemManager1.Modem'
MODEM3GPP = 'org.freedesktop.ModemManager1.Modem.Modem3gpp'
USSD = 'org.freedesktop.ModemManager1.Modem.Modem3gpp.Ussd'
LOCATION = 'org.freedesktop.ModemManager1.Modem.Location'
VOICE = 'org.freedesktop.ModemManager1.Modem.Voice'
MESSAGING = 'org.freedesktop.ModemManager1.Modem.Messaging'
SIM = 'org.freedesktop.ModemManager1.Sim'
SMS = 'org.freedesktop.ModemManager1.Sms'

MODEM_PATH = '/org/freedesktop/ModemManager1/Modem/0'
SIM_PATH = '/org/freedesktop/ModemManager1/SIM/0'

# MMModemState, MMModemLock, MMModemMode, MMModemLocationSource
STATE_LOCKED = 2
STATE_DISABLED = 3
STATE_ENABLED = 6
STATE_REGISTERED = 8
LOCK_NONE = 1
LOCK_SIM_PIN = 2
LOCK_SIM_PUK = 4
MODE_2G = 2
MODE_3G = 4
MODE_4G = 8
SOURCE_3GPP_LAC_CI = 1

ERROR = 'org.freedesktop.ModemManager1.Error'


def load(mock, parameters):
    mock.AddProperties(MAIN_IFACE, {'Version': dbus.String('1.20.0', variant_level=1)})
    mock.cell = None
    mock.ussd_refused = False
    mock.sms_count = 0


def modem():
    return mockobject.objects[MODEM_PATH]


def set_props(obj, interface, props):
    obj.props[interface].update(props)
    obj.EmitSignal('org.freedesktop.DBus.Properties', 'PropertiesChanged', 'sa{sv}as',
                   [interface, dbus.Dictionary(props, signature='sv'),
                    dbus.Array([], signature='s')])


def location_value(manager, enabled, state):
    if manager.cell is None or not (enabled & SOURCE_3GPP_LAC_CI) or state < STATE_REGISTERED:
        return dbus.Dictionary({}, signature='uv')
    lac, ci = manager.cell
    text = f'214,07,{lac:X},{ci:X},0'
    return dbus.Dictionary({dbus.UInt32(SOURCE_3GPP_LAC_CI): dbus.String(text, variant_level=1)},
                           signature='uv')


def update_location(manager):
    m = modem()
    props = m.props[LOCATION]
    value = location_value(manager, props['Enabled'], m.props[MODEM]['State'])
    if props['SignalsLocation']:
        set_props(m, LOCATION, {'Location': value})
    else:
        props['Location'] = value


def set_state(state):
    m = modem()
    m.props[MODEM]['State'] = dbus.Int32(state)
    on = state >= STATE_ENABLED
    set_props(m, MODEM, {
        'State': dbus.Int32(state),
        'PowerState': dbus.UInt32(3 if on else 1),
        'SignalQuality': dbus.Struct((dbus.UInt32(m.signal if on else 0), dbus.Boolean(True)),
                                     signature='ub'),
    })
    update_location(mockobject.objects[MAIN_OBJ])


def Enable(self, enable):
    if self.props[MODEM]['State'] == STATE_LOCKED:
        raise dbus.exceptions.DBusException('modem locked', name=ERROR + '.Core.WrongState')
    # A modem with its home network in reach registers as soon as it is enabled.
    set_state(STATE_REGISTERED if enable else STATE_DISABLED)


def SetCurrentModes(self, modes):
    allowed, preferred = modes
    if (allowed, preferred) not in [(a, p) for a, p in self.props[MODEM]['SupportedModes']]:
        raise dbus.exceptions.DBusException('unsupported modes', name=ERROR + '.Core.Unsupported')
    set_props(self, MODEM, {'CurrentModes': dbus.Struct((dbus.UInt32(allowed),
                                                         dbus.UInt32(preferred)), signature='uu')})


def Register(self, operator_id):
    if self.props[MODEM]['State'] < STATE_ENABLED:
        raise dbus.exceptions.DBusException('modem disabled', name=ERROR + '.Core.WrongState')
    set_state(STATE_REGISTERED)


def Setup(self, sources, signal_location):
    props = self.props[LOCATION]
    props['Enabled'] = dbus.UInt32(sources)
    props['SignalsLocation'] = dbus.Boolean(signal_location)
    update_location(mockobject.objects[MAIN_OBJ])


def GetLocation(self):
    return location_value(mockobject.objects[MAIN_OBJ], self.props[LOCATION]['Enabled'],
                          self.props[MODEM]['State'])


def Initiate(self, command):
    if mockobject.objects[MAIN_OBJ].ussd_refused:
        raise dbus.exceptions.DBusException('network refused', name=ERROR + '.Core.Failed')
    return dbus.String('ok')


def SendPin(self, pin):
    m = modem()
    if m.props[MODEM]['UnlockRequired'] == LOCK_SIM_PUK:
        raise dbus.exceptions.DBusException('SIM PUK required',
                                            name=ERROR + '.MobileEquipment.SimPuk')
    if pin == self.pin:
        m.props[MODEM]['UnlockRequired'] = dbus.UInt32(LOCK_NONE)
        set_props(m, MODEM, {'UnlockRequired': dbus.UInt32(LOCK_NONE)})
        set_state(STATE_DISABLED)
        return
    self.attempts -= 1
    if self.attempts <= 0:
        set_props(m, MODEM, {'UnlockRequired': dbus.UInt32(LOCK_SIM_PUK)})
    raise dbus.exceptions.DBusException('wrong PIN',
                                        name=ERROR + '.MobileEquipment.IncorrectPassword')


def Create(self, properties):
    manager = mockobject.objects[MAIN_OBJ]
    path = f'/org/freedesktop/ModemManager1/SMS/{manager.sms_count}'
    manager.sms_count += 1
    manager.AddObject(path, SMS, {
        'Number': dbus.String(properties.get('number', ''), variant_level=1),
        'Text': dbus.String(properties.get('text', ''), variant_level=1),
        'State': dbus.UInt32(0, variant_level=1),
    }, [('Send', '', '', '')])
    messages = list(self.props[MESSAGING]['Messages']) + [dbus.ObjectPath(path)]
    self.props[MESSAGING]['Messages'] = dbus.Array(messages, signature='o')
    return dbus.ObjectPath(path)


@dbus.service.method(MOCK_IFACE, in_signature='s', out_signature='')
def AddModem(self, pin):
    self.AddObject(SIM_PATH, SIM, {
        'SimIdentifier': dbus.String('8934071100000000000', variant_level=1),
    }, [('SendPin', 's', '', SendPin)])
    sim = mockobject.objects[SIM_PATH]
    sim.pin = pin
    sim.attempts = 3
    locked = bool(pin)
    self.AddObject(MODEM_PATH, MODEM, {
        'Sim': dbus.ObjectPath(SIM_PATH, variant_level=1),
        'State': dbus.Int32(STATE_LOCKED if locked else STATE_DISABLED, variant_level=1),
        'PowerState': dbus.UInt32(1, variant_level=1),
        'UnlockRequired': dbus.UInt32(LOCK_SIM_PIN if locked else LOCK_NONE, variant_level=1),
        'SignalQuality': dbus.Struct((dbus.UInt32(0), dbus.Boolean(True)), signature='ub',
                                     variant_level=1),
        'SupportedModes': dbus.Array([
            dbus.Struct((dbus.UInt32(MODE_2G), dbus.UInt32(0)), signature='uu'),
            dbus.Struct((dbus.UInt32(MODE_3G), dbus.UInt32(0)), signature='uu'),
            dbus.Struct((dbus.UInt32(MODE_2G | MODE_3G), dbus.UInt32(MODE_3G)), signature='uu'),
            dbus.Struct((dbus.UInt32(MODE_2G | MODE_3G | MODE_4G), dbus.UInt32(0)),
                        signature='uu'),
        ], signature='(uu)', variant_level=1),
        'CurrentModes': dbus.Struct((dbus.UInt32(MODE_2G | MODE_3G | MODE_4G), dbus.UInt32(0)),
                                    signature='uu', variant_level=1),
    }, [
        ('Enable', 'b', '', Enable),
        ('SetCurrentModes', '(uu)', '', SetCurrentModes),
    ])
    m = mockobject.objects[MODEM_PATH]
    m.signal = 0
    m.AddProperties(MODEM3GPP, {'RegistrationState': dbus.UInt32(1, variant_level=1)})
    m.AddMethods(MODEM3GPP, [('Register', 's', '', Register)])
    m.AddProperties(USSD, {'State': dbus.UInt32(1, variant_level=1)})
    m.AddMethods(USSD, [('Initiate', 's', 's', Initiate)])
    m.AddProperties(LOCATION, {
        'Capabilities': dbus.UInt32(SOURCE_3GPP_LAC_CI, variant_level=1),
        'Enabled': dbus.UInt32(0, variant_level=1),
        'SignalsLocation': dbus.Boolean(False, variant_level=1),
        'Location': dbus.Dictionary({}, signature='uv', variant_level=1),
    })
    m.AddMethods(LOCATION, [('Setup', 'ub', '', Setup), ('GetLocation', '', 'a{uv}', GetLocation)])
    m.AddProperties(VOICE, {'Calls': dbus.Array([], signature='o', variant_level=1)})
    m.AddProperties(MESSAGING, {'Messages': dbus.Array([], signature='o', variant_level=1)})
    m.AddMethods(MESSAGING, [('Create', 'a{sv}', 'o', Create)])
    self.object_manager_emit_added(MODEM_PATH)


@dbus.service.method(MOCK_IFACE, in_signature='', out_signature='')
def RemoveModem(self):
    self.object_manager_emit_removed(MODEM_PATH)
    self.RemoveObject(MODEM_PATH)
    self.RemoveObject(SIM_PATH)


@dbus.service.method(MOCK_IFACE, in_signature='uu', out_signature='')
def SetCell(self, lac, ci):
    self.cell = (int(lac), int(ci))
    update_location(self)


@dbus.service.method(MOCK_IFACE, in_signature='u', out_signature='')
def SetSignal(self, percent):
    m = modem()
    m.signal = int(percent)
    if m.props[MODEM]['State'] >= STATE_ENABLED:
        set_props(m, MODEM, {'SignalQuality': dbus.Struct((dbus.UInt32(percent),
                                                           dbus.Boolean(True)), signature='ub')})


@dbus.service.method(MOCK_IFACE, in_signature='b', out_signature='')
def RefuseUssd(self, refuse):
    self.ussd_refused = bool(refuse)
