'''Mock template of the feedback daemon for the Linux backend's tests.

Written from the daemon's published D-Bus interface: org.sigxcpu.Feedback at /org/sigxcpu/Feedback
on the session bus, with its read-write "Profile" property ("full", "quiet", "silent").
'''

import dbus

BUS_NAME = 'org.sigxcpu.Feedback'
MAIN_OBJ = '/org/sigxcpu/Feedback'
MAIN_IFACE = 'org.sigxcpu.Feedback'
SYSTEM_BUS = False


def load(mock, parameters):
    mock.AddProperties(MAIN_IFACE, {
        'Profile': dbus.String(parameters.get('Profile', 'full'), variant_level=1),
    })
    mock.AddMethods(MAIN_IFACE, [
        ('TriggerFeedback', 'ssa{sv}i', 'u', 'ret = dbus.UInt32(1)'),
        ('EndFeedback', 'u', '', ''),
    ])
