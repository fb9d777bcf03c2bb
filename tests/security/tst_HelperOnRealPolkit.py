#!/usr/bin/python3
# The helper as a machine runs it: installed by its own install step into a temporary root,
# started by a bus of the system type (default-deny policy plus the installed one) and asking the
# real polkit daemon, which reads the installed action through a private mount namespace, so
# nothing of the machine changes. Another user's calls come from this same script, started as
# nobody through setpriv.
#   tst_HelperOnRealPolkit.py HELPER_PROGRAM      exits 77 (skipped) with the reason when it cannot run
import os, re, shutil, subprocess, sys, tempfile, time
import dbus, dbus.bus, dbus.lowlevel

NAME, PATH = 'com.lunacore.sdwan.fernpoint.helper', '/com/lunacore/sdwan/fernpoint/helper'
POLKIT, POLKITD = 'org.freedesktop.PolicyKit1', '/usr/lib/polkit-1/polkitd'
failures = []


# 'StartGateway:0123456789abcdef:true' (or 'some.Interface.Method') as a call that lets polkit
# ask a person; with a leading '!', one that does not.
def message(request):
    method, *arguments = request.lstrip('!').split(':')
    interface = 'com.lunacore.sdwan.fernpoint.Helper'
    if '.' in method:
        interface, method = method.rsplit('.', 1)
    call = dbus.lowlevel.MethodCallMessage(NAME, PATH, interface, method)
    if arguments:
        call.append(*[a == 'true' if a in ('true', 'false') else a for a in arguments])
    call.set_allow_interactive_authorization(not request.startswith('!'))
    return call


# 'ok|refused|error <text>'; the request 'own' asks for the helper's name.
def answer(bus, request):
    try:
        if request == 'own':
            reply = [bus.request_name(NAME, dbus.bus.NAME_FLAG_DO_NOT_QUEUE), []]
        else:
            reply = bus.send_message_with_reply_and_block(message(request), 20).get_args_list()
        text = [str(t) for t in reply[-2 if len(reply) == 3 else -1]]
        outcome = ('ok' if reply[0] or len(reply) == 1 else 'refused') + ' ' + ''.join(text)
    except dbus.DBusException as error:
        outcome = 'error %s %s' % (error.get_dbus_name(), error.get_dbus_message())
    return outcome.strip()


def check(condition, what):
    print(('ok   ' if condition else 'FAIL ') + what, flush=True)
    failures.extend([] if condition else [what])


def skip(why):
    print('SKIP ' + why)
    sys.exit(77)


def main(helper):
    if os.geteuid() != 0:
        skip('needs root: it runs callers as other users (setpriv) and polkitd in a private mount namespace')
    if not os.path.exists(POLKITD):
        skip(POLKITD + ' is missing (scripts/setup-debian.sh installs polkitd)')
    probe = subprocess.run(['unshare', '-m', 'true'], capture_output=True, text=True)
    if probe.returncode != 0:
        skip('no private mount namespace for polkitd here (unshare -m: %s)' % probe.stderr.strip())
    top = tempfile.mkdtemp()
    processes = []
    try:
        os.chmod(top, 0o755)  # polkitd's own user reads the installed action
        root, client = top + '/root', top + '/client.py'
        os.makedirs(root, 0o755)
        subprocess.run([helper, '--install', '--root', root], check=True)
        shutil.copy(__file__, client)
        os.chmod(client, 0o644)
        with open(top + '/bus.conf', 'w') as config:
            config.write(bus_config(top, root))
        processes.append(subprocess.Popen(['dbus-daemon', '--config-file=' + top + '/bus.conf', '--nofork',
                                           '--print-address=1'], stdout=subprocess.PIPE, text=True))
        address = processes[-1].stdout.readline().strip()
        polkitd = subprocess.Popen(
            ['unshare', '-m', 'sh', '-c', 'mount --bind "$1" /usr/share/polkit-1/actions && exec ' + POLKITD,
             'sh', root + '/usr/share/polkit-1/actions'],
            env=dict(os.environ, DBUS_SYSTEM_BUS_ADDRESS=address), stderr=subprocess.PIPE, text=True)
        processes.append(polkitd)
        bus = dbus.bus.BusConnection(address)
        deadline = time.monotonic() + 10
        while not bus.name_has_owner(POLKIT) and time.monotonic() < deadline and polkitd.poll() is None:
            time.sleep(0.02)
        if not bus.name_has_owner(POLKIT):
            polkitd.kill()
            skip('polkitd did not come up: ' + ' '.join(polkitd.communicate()[1].split()))

        def calls_as_nobody(*requests):
            process = subprocess.Popen(['setpriv', '--reuid=nobody', '--regid=nogroup', '--clear-groups',
                                        sys.executable, client, 'client', address] + list(requests),
                                       stdout=subprocess.PIPE, text=True)
            return process.communicate(timeout=60)[0].splitlines()

        # Activated by the bus from the installed files; root is authorized by polkit itself.
        check(answer(bus, 'Ping') == 'ok 1.0.4', 'the bus starts the installed helper')
        check([answer(bus, r) for r in ('StopGateway', 'SetNat:false', 'StartGateway:0123456789abcdef:false')]
              == ['ok'] * 3, 'root stops, sets NAT and starts')
        # Without a prompt, polkit answers nobody with a challenge: still no.
        status = calls_as_nobody('StartGateway:fedcba9876543210:true', 'SetNat:true', '!StopGateway',
                                 'Uninstall', 'Ping', 'GatewayStatus', 'own', 'com.example.Other.Ping')
        check(all(s.startswith('refused not authorized: ') for s in status[:4]) and len(status) == 8,
              'nobody may not start, set NAT, stop or uninstall: %s' % status[:4])
        check(all(s.startswith('error org.freedesktop.DBus.Error.AccessDenied') for s in status[6:]),
              'nor own the helper\'s name, nor call anything else on it: %s' % status[6:])
        check(status[4] == 'ok 1.0.4' and '"Nat":false' in status[5] and '"state":"stopped"' not in status[5],
              'nobody reads, and nothing changed: %s' % status[4:])

    finally:
        for process in reversed(processes):
            if process.poll() is None:
                process.terminate()
                process.wait(5)
        shutil.rmtree(top, ignore_errors=True)
    sys.exit(1 if failures else 0)


# A bus of the system type with the default policy of the machine's system bus (everything that
# no policy allows is denied), then polkit's policy and the installed one.
def bus_config(top, root):
    with open('/usr/share/dbus-1/system.conf') as system:
        default_policy = re.search(r'<policy context="default">.*?</policy>', system.read(), re.S).group(0)
    return ('<busconfig><type>system</type><listen>unix:path=%s/bus</listen><auth>EXTERNAL</auth>'
            '<servicedir>%s/usr/local/share/dbus-1/system-services</servicedir>%s'
            '<include>/usr/share/dbus-1/system.d/org.freedesktop.PolicyKit1.conf</include>'
            '<include>%s/etc/dbus-1/system.d/%s.conf</include></busconfig>'
            % (top, root, default_policy, root, NAME))


if __name__ == '__main__':
    if sys.argv[1:2] == ['client']:
        connection = dbus.bus.BusConnection(sys.argv[2])
        for request in sys.argv[3:]:
            print(answer(connection, request), flush=True)
    else:
        main(sys.argv[1])
