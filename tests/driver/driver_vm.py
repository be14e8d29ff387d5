#!/usr/bin/env python3
"""The tool and the serial component through the kernel's real serial drivers.

Boots Debian's kernel in QEMU (software emulation) with an initramfs built by
make_initramfs.sh. The guest gets FTDI adapters (usb-serial on an xHCI
controller, driven by ftdi_sio) and 16550 UARTs (isa-serial, driven by
8250); each device is wired through QEMU's host serial backend to the pty of
a virtual module on the host, which answers only while the line is set to its
rate. The guest is driven through its console (virtio, hvc0: the UARTs stay
free for the modules) and QEMU's monitor socket.

Cases:
  serial  probe, configuration and flash with verify, Xon/Xoff, a custom rate
          through BOTHER, two ports at once, the port list, the modem lines
  pull    an adapter pulled mid-program-config, then plugged again
  station the station watching /dev/serial/by-id while adapters are plugged
          and pulled through the monitor: two at once, the folder gone with
          its last link and back, one pulled mid-way and plugged again, the
          record's unit addresses and rows, Ctrl-C's summary

A QEMU that cannot start, a guest that does not boot, a check that fails:
each ends the test with status 1 and the reason. Nothing is skipped.
"""
import argparse
import ctypes
import glob
import json
import os
import re
import shutil
import socket
import subprocess
import sys
import threading
import time

HERE = os.path.dirname(os.path.abspath(__file__))
STARTED = time.monotonic()

# QEMU's host serial backend sets the pty to a standard termios rate: the
# lowest one at or above 10/11 of the rate the emulated chip runs at. A
# custom rate therefore reaches the host pty as this standard rate; the exact
# rate is checked where it exists: the divisors the emulated chips were
# given, in QEMU's trace, and the FTDI divisor in ftdi_sio's own debug line.
STANDARD_RATES = [50, 75, 110, 134, 150, 200, 300, 600, 1200, 1800, 2400, 4800, 9600, 19200, 38400, 57600,
                  115200, 230400, 460800, 500000, 576000, 921600, 1000000, 1152000, 1500000, 2000000, 2500000,
                  3000000, 3500000, 4000000]


def die_with_parent():
    """In the child: killed when the test ends, even by CTest's deadline."""
    ctypes.CDLL(None, use_errno=True).prctl(1, 9)  # PR_SET_PDEATHSIG, SIGKILL


def host_rate(chip_rate):
    scaled = chip_rate * 10 // 11
    return next(r for r in STANDARD_RATES if scaled <= r)


# Texts a technician should never be shown: the serial component's
# Win32-style function names and codes.
WINDOWS_WORDS = re.compile(r"WriteFile|ReadFile|PurgeComm|SetCommState|SetCommTimeouts|SetupComm|ClearCommError|"
                           r"GetCommModemStatus|EscapeCommFunction|TransmitCommChar|EnumPorts|WaitForEvent|"
                           r"win error|function failed")


class Failure(Exception):
    pass


def check(condition, what, detail=""):
    if not condition:
        raise Failure(what + ("\n" + detail if detail else ""))
    print(f"ok   {time.monotonic() - STARTED:5.1f} s  {what}", flush=True)


class Deadline:
    def __init__(self, seconds):
        self.end = time.monotonic() + seconds

    def left(self):
        return max(0.0, self.end - time.monotonic())


class VModule:
    """A tarnwick-vmodule on a host pty."""

    def __init__(self, exe, work, name, rate, extra=()):
        self.name = name
        self.image = os.path.join(work, name + ".img")
        if os.path.exists(self.image):  # a former run's memory: start erased
            os.unlink(self.image)
        self.log = open(os.path.join(work, name + ".log"), "w")
        self.proc = subprocess.Popen([exe, "--only-baud", str(rate), "--image", self.image, *extra],
                                     stdout=subprocess.PIPE, stderr=self.log, text=True,
                                     preexec_fn=die_with_parent)
        self.path = self.proc.stdout.readline().strip()
        if not self.path.startswith("/dev/"):
            raise Failure(f"virtual module {name} did not start (see {self.log.name})")

    def stop(self):
        if self.proc.poll() is None:
            self.proc.terminate()
            try:
                self.proc.wait(5)
            except subprocess.TimeoutExpired:
                self.proc.kill()
                self.proc.wait()
        self.log.close()


class Machine:
    """QEMU with the guest's console on pipes and the monitor on a socket."""

    def __init__(self, args, work, serials, uarts, plugged=None, out_console=None):
        """serials: (id, VModule) of the FTDI adapters, of which those in
        plugged (default all) are there at boot and the others only wired for
        a device_add. out_console: a host file fed by the guest's /dev/hvc1."""
        self.work = work
        kernel, release = find_kernel(args.kernel)
        initrd = self.initrd = os.path.join(work, "guest.cpio")
        # The record's SQLite driver is a Qt plugin the tool loads by name.
        progs = [args.cli, args.modem_lines, *glob.glob("/usr/lib/*/qt6/plugins/sqldrivers/libqsqlite.so")]
        r = subprocess.run(["bash", os.path.join(HERE, "make_initramfs.sh"), initrd, release, *progs],
                           capture_output=True, text=True)
        if r.returncode != 0:
            raise Failure("could not build the guest's initramfs:\n" + r.stdout + r.stderr)
        qemu = shutil.which("qemu-system-x86_64")
        if not qemu:
            raise Failure("qemu-system-x86_64 is not installed (Debian package qemu-system-x86)")
        self.monitor_path = os.path.join(work, "monitor.sock")
        self.trace = os.path.join(work, "qemu-trace.log")
        for f in (self.monitor_path, self.trace):
            if os.path.exists(f):
                os.unlink(f)
        cmd = [qemu, "-machine", "pc,accel=tcg", "-m", "512", "-nodefaults", "-nographic", "-no-reboot",
               "-kernel", kernel, "-initrd", initrd, "-append", "console=hvc0 quiet panic=-1",
               "-device", "virtio-serial-pci", "-chardev", "stdio,id=con,signal=off",
               "-device", "virtconsole,chardev=con",
               "-monitor", f"unix:{self.monitor_path},server=on,wait=off",
               "-trace", "serial_update_parameters", "-trace", "usb_serial_set_baud", "-D", self.trace,
               "-device", "qemu-xhci,id=xhci"]
        self.usb_ids = {}
        if out_console:
            cmd += ["-chardev", f"file,id=out,path={out_console}", "-device", "virtconsole,chardev=out"]
        for port, (dev_id, vm) in enumerate(serials, start=1):
            cmd += ["-chardev", f"serial,id=c_{dev_id},path={vm.path}"]
            self.usb_ids[dev_id] = port
            if plugged is None or dev_id in plugged:
                cmd += ["-device", self.usb_device_args(dev_id, port)]
        for index, vm in enumerate(uarts):
            cmd += ["-chardev", f"serial,id=c_uart{index},path={vm.path}",
                    "-device", f"isa-serial,chardev=c_uart{index},index={index}"]
        self.console_log = open(os.path.join(work, "console.log"), "wb")
        try:
            self.proc = subprocess.Popen(cmd, stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                         stderr=subprocess.STDOUT, preexec_fn=die_with_parent)
        except OSError as e:
            raise Failure(f"QEMU could not start: {e}")
        self.buf = bytearray()
        self.cond = threading.Condition()
        self.seq = 0
        threading.Thread(target=self._reader, daemon=True).start()
        try:
            self.wait_for(rb"@@guest-ready@@", 150)
        except Failure as e:
            raise Failure("the guest did not boot: " + str(e))
        check(True, "guest booted")

    @staticmethod
    def usb_device_args(dev_id, port):
        # The USB serial number names the adapter in /dev/serial/by-id.
        return f"usb-serial,bus=xhci.0,port={port},chardev=c_{dev_id},id={dev_id},serial=TW{port:04d}"

    @staticmethod
    def by_id_name(port):
        return f"usb-QEMU_QEMU_USB_SERIAL_TW{port:04d}-if00-port0"

    def plug(self, dev_id):
        reply = self.monitor("device_add " + self.usb_device_args(dev_id, self.usb_ids[dev_id]))
        check(reply == "", f"adapter {dev_id} plugged (device_add)", reply)

    def pull(self, dev_id):
        reply = self.monitor("device_del " + dev_id)
        check(reply == "", f"adapter {dev_id} pulled (device_del)", reply)

    def _reader(self):
        while True:
            data = self.proc.stdout.read1(4096)
            with self.cond:
                if not data:
                    self.cond.notify_all()
                    return
                self.buf += data
                self.console_log.write(data)
                self.console_log.flush()
                self.cond.notify_all()

    def wait_for(self, pattern, seconds, start=0):
        deadline = Deadline(seconds)
        rx = re.compile(pattern)
        with self.cond:
            while True:
                m = rx.search(self.buf, start)
                if m:
                    return m
                if self.proc.poll() is not None:
                    raise Failure(f"QEMU ended (status {self.proc.returncode}); its last output:\n"
                                  + self.buf[-3000:].decode(errors="replace"))
                if deadline.left() == 0:
                    raise Failure(f"no {pattern!r} within {seconds} s; console's last output:\n"
                                  + self.buf[-3000:].decode(errors="replace"))
                self.cond.wait(min(deadline.left(), 0.5))

    def send(self, command):
        """Starts a command on the guest's shell; returns its marker."""
        self.seq += 1
        with self.cond:
            start = len(self.buf)
        self.proc.stdin.write(f'{command}; echo "@@{self.seq}:rc=$?@@"\n'.encode())
        self.proc.stdin.flush()
        return (self.seq, start)

    def result(self, marker, seconds=90):
        seq, start = marker
        m = self.wait_for(rb"@@%d:rc=(\d+)@@" % seq, seconds, start)
        out = self.buf[start:m.start()].decode(errors="replace")
        out = re.sub(r"(^|\n)/ # ", r"\1", out)
        return int(m.group(1)), out

    def run(self, command, seconds=90):
        return self.result(self.send(command), seconds)

    def ok(self, command, what, seconds=90):
        rc, out = self.run(command, seconds)
        check(rc == 0, what, f"`{command}` exited {rc}:\n{out}")
        return out

    def monitor(self, command):
        """One command on QEMU's human monitor; returns its reply."""
        with socket.socket(socket.AF_UNIX, socket.SOCK_STREAM) as s:
            s.settimeout(20)
            s.connect(self.monitor_path)
            reply = b""
            while not reply.endswith(b"(qemu) "):
                reply += s.recv(4096)
            s.sendall(command.encode() + b"\n")
            reply = b""
            while not reply.endswith(b"(qemu) "):
                chunk = s.recv(4096)
                if not chunk:
                    break
                reply += chunk
        text = re.sub(r"\x1b\[[0-9;]*[A-Za-z]", "", reply.decode(errors="replace"))
        return text.replace("(qemu) ", "").split("\n", 1)[-1].strip()

    def usb_tty(self, dev_id, seconds=30):
        """The guest's /dev/ttyUSBn of the adapter on this device's USB port."""
        port = self.usb_ids[dev_id]
        # The xHCI's first ports are its USB 2 ports: bus 1, port N is 1-N.
        rc, out = self.run(f"d=''; i=0; while [ -z \"$d\" ] && [ $i -lt {seconds * 20} ]; do "
                           f"d=$(ls /sys/bus/usb/devices/1-{port}:1.0/ 2>/dev/null | grep ttyUSB); "
                           f"[ -n \"$d\" ] && [ -e /dev/$d ] || {{ d=''; sleep 0.05; }}; i=$((i+1)); done; "
                           f"echo \"tty=$d\"", seconds + 30)
        m = re.search(r"tty=(ttyUSB\d+)", out)
        if not m:
            raise Failure(f"adapter {dev_id} (USB port {port}) has no ttyUSB in the guest:\n{out}")
        return "/dev/" + m.group(1)

    def stop(self):
        # The logs stay for a look after a failure; the guest's image goes.
        if os.path.exists(self.initrd):
            os.unlink(self.initrd)
        if self.proc.poll() is None:
            try:
                self.proc.stdin.write(b"poweroff -f\n")
                self.proc.stdin.flush()
                self.proc.wait(10)
            except (OSError, subprocess.TimeoutExpired):
                self.proc.kill()
                self.proc.wait()
        self.console_log.close()


def find_kernel(wanted):
    kernels = [wanted] if wanted else sorted(glob.glob("/boot/vmlinuz-*"))
    for k in reversed(kernels):
        release = os.path.basename(k)[len("vmlinuz-"):]
        if os.path.isdir(f"/lib/modules/{release}"):
            if not os.access(k, os.R_OK):
                raise Failure(f"cannot read {k} (the tests run as root in CI)")
            return k, release
    raise Failure("no kernel with its modules in /boot and /lib/modules (Debian package linux-image-amd64)")


def host_file(work, name, data):
    path = os.path.join(work, name)
    with open(path, "wb") as f:
        f.write(data)
    return path


def put_file(vm, local, guest_path):
    """Copies a small host file into the guest through the console (hex)."""
    data = open(local, "rb").read()
    octal = "".join("\\0%03o" % b for b in data)
    vm.ok(f"printf '%b' '{octal}' > {guest_path}", f"copied {os.path.basename(local)} into the guest")


def test_image(start, length=128):
    # Every byte value except XON and XOFF (11, 13), which a line with
    # Xon/Xoff flow takes as flow control and never delivers.
    values = [b for b in range(256) if b not in (0x11, 0x13)]
    return bytes(values[(start * 7 + i * 13) % len(values)] for i in range(length))


def case_serial(args, work):
    usb_main = VModule(args.vmodule, work, "usb-main", 57600)
    usb_custom = VModule(args.vmodule, work, "usb-custom", host_rate(250000))
    uart_main = VModule(args.vmodule, work, "uart-main", 57600)
    uart_custom = VModule(args.vmodule, work, "uart-custom", host_rate(14400))
    vmods = [usb_main, usb_custom, uart_main, uart_custom]
    vm = None
    try:
        vm = Machine(args, work, [("ftdi_main", usb_main), ("ftdi_custom", usb_custom)], [uart_main, uart_custom])
        usb = vm.usb_tty("ftdi_main")
        usb_c = vm.usb_tty("ftdi_custom")
        # The UARTs' CTS input is low (a pty has no modem lines): no
        # hardware handshake there.
        ports = [(usb, "ftdi_sio", ""), ("/dev/ttyS0", "8250", "--flow none")]
        cli = "tarnwick-cli -q --no-record"

        # The port list: names and descriptions from the guest's sysfs.
        out = vm.ok("tarnwick-cli ports", "port list")
        product = vm.ok(f"cat /sys/bus/usb/devices/1-{vm.usb_ids['ftdi_main']}/product", "adapter's product").strip()
        listed = {line.split("\t")[0]: line for line in out.splitlines() if line.startswith("/dev/")}
        check(set(listed) == {usb, usb_c, "/dev/ttyS0", "/dev/ttyS1"},
              "port list: the two adapters and the two real UARTs, no phantom ttyS", out)
        check(product in listed[usb], f"port list names the adapter by its sysfs product ({product})", out)
        driver = os.path.basename(vm.ok("readlink /sys/class/tty/ttyS0/device/driver", "UART driver").strip())
        check(driver in listed["/dev/ttyS0"], f"port list names the UART's driver ({driver})", out)

        for dev, drv, flow in ports:
            out = vm.ok(f"{cli} --port {dev} {flow} probe", f"{drv}: probe")
            check("2.10" in out, f"{drv}: probe reads the version", out)
            # Configuration: read, change, program with verify, read back.
            vm.ok(f"{cli} --port {dev} {flow} read-config -o /tmp/c.bin", f"{drv}: read-config")
            put_file(vm, host_file(work, "config.bin", test_image(1)), "/tmp/c2.bin")
            vm.ok(f"{cli} --port {dev} {flow} program-config /tmp/c2.bin", f"{drv}: program-config with verify")
            vm.ok(f"{cli} --port {dev} {flow} read-config -o /tmp/c3.bin && cmp /tmp/c2.bin /tmp/c3.bin",
                  f"{drv}: configuration read back equal")
            # Flash, with Xon/Xoff flow control.
            put_file(vm, host_file(work, "flash.bin", test_image(2)), "/tmp/f.bin")
            vm.ok(f"{cli} --port {dev} --flow xonxoff program-flash /tmp/f.bin",
                  f"{drv}: program-flash with verify, Xon/Xoff")
            vm.ok(f"{cli} --port {dev} --flow xonxoff read-flash -o /tmp/f2.bin && cmp /tmp/f.bin /tmp/f2.bin",
                  f"{drv}: flash read back equal, Xon/Xoff")
            vm.ok(f"{cli} --port {dev} --flow xonxoff probe", f"{drv}: probe with Xon/Xoff")
            # A wrong rate is garbage to the module: no answer.
            rc, out = vm.run(f"{cli} --port {dev} {flow} --baud 19200 probe")
            check(rc == 1, f"{drv}: no answer at a rate the module is not set to (exit 1)", out)
        check(open(usb_main.image, "rb").read()[0:128] == test_image(2), "ftdi_sio: host module holds the flash")
        check(open(uart_main.image, "rb").read()[128:256] == test_image(1),
              "8250: host module holds the configuration")

        # Custom rates through BOTHER: the exact rate where it can be seen,
        # the module's own rate check (QEMU's standard rate) for the answer.
        vm.ok("dmesg -c >/dev/null", "kernel log cleared")
        vm.ok(f"{cli} --port {usb_c} --baud 250000 probe", "ftdi_sio: probe at 250000 baud (BOTHER)")
        out = vm.ok("dmesg | grep 'Baud rate set to'", "ftdi_sio logged its divisor")
        check("Baud rate set to 250000" in out, "ftdi_sio programmed exactly 250000 baud", out)
        trace = open(vm.trace, errors="replace").read()
        check(re.search(r"usb_serial_set_baud.*\b250000\b", trace) is not None,
              "the emulated FTDI chip runs at exactly 250000 baud (QEMU's trace)", trace[-2000:])
        rc, out = vm.run(f"{cli} --port {usb_c} --baud 57600 probe")
        check(rc == 1, f"ftdi_sio: the {host_rate(250000)}-baud module does not answer at 57600", out)
        vm.ok(f"{cli} --port /dev/ttyS1 --flow none --baud 14400 probe", "8250: probe at 14400 baud (BOTHER)")
        trace = open(vm.trace, errors="replace").read()
        check(re.search(r"serial_update_parameters.*baudrate=14400\b", trace) is not None,
              "8250: the UART's divisor gives exactly 14400 baud (QEMU's trace)", trace[-2000:])
        rc, out = vm.run(f"{cli} --port /dev/ttyS1 --flow none --baud 9600 probe")
        check(rc == 1, f"8250: the {host_rate(14400)}-baud module does not answer at 9600", out)

        # Hardware flow control on the UART, whose CTS is low: the driver
        # holds the data back, and the tool says so instead of hanging.
        rc, out = vm.run(f"a=$(cut -d' ' -f1 /proc/uptime); {cli} --port /dev/ttyS0 --flow rtscts probe; "
                         f"echo status=$? from=$a to=$(cut -d' ' -f1 /proc/uptime)")
        m = re.search(r"status=(\d+) from=([\d.]+) to=([\d.]+)", out)
        check(m is not None and m.group(1) == "1" and "--flow" in out,
              "8250 with RTS/CTS and CTS low: exit 1, the message points at --flow", out)
        took = float(m.group(3)) - float(m.group(2))
        check(took < 20, f"8250 with RTS/CTS and CTS low: the tool ended after {took:.1f} s, "
                         "held data and all", out)

        # Two ports at once, one per driver.
        put_file(vm, host_file(work, "flash2.bin", test_image(3)), "/tmp/g.bin")
        both = f"--port {usb} --port /dev/ttyS0 --flow none"
        vm.ok(f"{cli} {both} program-flash /tmp/g.bin", "ftdi_sio and 8250 at once: program-flash with verify")
        vm.ok(f"{cli} {both} read-flash -o '/tmp/back-{{port}}.bin' && cmp /tmp/g.bin /tmp/back-ttyS0.bin && "
              f"cmp /tmp/g.bin /tmp/back-{os.path.basename(usb)}.bin", "ftdi_sio and 8250 at once: read back equal")
        out = vm.ok(f"tarnwick-cli --no-record --json {both} probe", "ftdi_sio and 8250 at once: probe")
        check(out.count('"ok":true') == 2, "both ports answered", out)

        # Modem lines: the component and the driver agree. QEMU cannot move
        # an input line here: the pty behind each device has no modem lines,
        # so the FTDI adapter reports fixed levels and the UART CTS low.
        for dev, drv, _ in ports:
            out = vm.ok(f"tw-modem-lines {dev}", f"{drv}: modem lines of the component agree with the driver")
            print(out.strip())
            check(out.count("agree") == 4, f"{drv}: DTR/RTS set and reported in all four combinations", out)
        print("note: QEMU holds the input lines (CTS, DSR, RI, DCD) still: a pty has no modem lines; their "
              "changes and timing are not tested here")
    finally:
        if vm:
            vm.stop()
        for v in vmods:
            v.stop()


def image_mtime(module):
    return os.stat(module.image).st_mtime_ns if os.path.exists(module.image) else 0


def wait_for_write(module, since, what, seconds=60):
    """Until the host module saved its memory after a write (its image file
    changes with every block written)."""
    deadline = Deadline(seconds)
    while image_mtime(module) == since:
        if deadline.left() == 0:
            raise Failure(f"the module saw no write of {what} within {seconds} s")
        time.sleep(0.02)


def case_pull(args, work):
    # Each reply waits a little: the programming lasts seconds, long enough
    # to pull the adapter in the middle of it.
    module = VModule(args.vmodule, work, "usb-pull", 57600, ["--delay", "40"])
    vm = None
    try:
        vm = Machine(args, work, [("ftdi_pull", module)], [])
        dev = vm.usb_tty("ftdi_pull")
        put_file(vm, host_file(work, "config.bin", test_image(4)), "/tmp/c.bin")
        since = image_mtime(module)
        # The tool in the background; the shell notes when the device node
        # goes away and when the tool ended (uptime, 10 ms steps).
        marker = vm.send(f"rm -f /tmp/rc; (tarnwick-cli --no-record --port {dev} program-config /tmp/c.bin "
                         f"> /tmp/out 2>&1; echo $? > /tmp/rc; cut -d' ' -f1 /proc/uptime > /tmp/end) & "
                         f"while [ -e {dev} ]; do sleep 0.01; done; cut -d' ' -f1 /proc/uptime > /tmp/gone")
        wait_for_write(module, since, "program-config")
        vm.pull("ftdi_pull")
        vm.result(marker, 60)
        rc, out = vm.run("i=0; while [ ! -s /tmp/end ] && [ $i -lt 500 ]; do sleep 0.01; i=$((i+1)); done; "
                         "echo gone=$(cat /tmp/gone) end=$(cat /tmp/end) rc=$(cat /tmp/rc); cat /tmp/out")
        m = re.search(r"gone=([\d.]+) end=([\d.]+) rc=(\d+)", out)
        check(m is not None, "the tool ended after the adapter was pulled", out)
        took = float(m.group(2)) - float(m.group(1))
        check(took <= 1.0, f"the tool ended {took:.2f} s after the adapter went (at most 1 s)", out)
        check(m.group(3) == "1", "exit status 1: the module could not be programmed", out)
        message = out.split("\n", 1)[1] if "\n" in out else ""
        check("unplugged" in message, "the message says the adapter was unplugged", message)
        check(not WINDOWS_WORDS.search(message), "the message names no Windows function", message)
        print(message.strip())

        # Plugged again: the search finds the module.
        vm.plug("ftdi_pull")
        dev2 = vm.usb_tty("ftdi_pull")
        out = vm.ok("tarnwick-cli --no-record -q probe --scan", "probe --scan after the adapter came back", 120)
        check(f"on {dev2} at 57600 baud" in out, f"probe --scan finds the module on {dev2}", out)
    finally:
        if vm:
            vm.stop()
        module.stop()


class JsonLines:
    """The lines a guest program writes to /dev/hvc1, as they arrive in the
    host file behind it, each with the host time it was first seen."""

    def __init__(self, path, errors):
        self.path = path
        self.errors = errors  # what the program said on stderr, for a failure
        self.seen = []  # (time, object)
        self.used = set()

    def wait(self, what, pred, seconds=90):
        deadline = Deadline(seconds)
        while True:
            data = open(self.path, "rb").read() if os.path.exists(self.path) else b""
            lines = data.split(b"\n")[:-1]
            for line in lines[len(self.seen):]:
                text = line.decode(errors="replace").strip()
                try:
                    obj = json.loads(text)
                except ValueError:
                    obj = {"text": text}
                self.seen.append((time.monotonic(), obj))
            for i, (at, obj) in enumerate(self.seen):
                if i not in self.used and pred(obj):
                    self.used.add(i)
                    return at, obj, i
            if deadline.left() == 0:
                raise Failure(f"no line for {what} within {seconds} s; the lines so far:\n"
                              + "\n".join(json.dumps(o) for _, o in self.seen) + "\nstderr:\n" + self.errors())
            time.sleep(0.02)


def image_unit_address(module):
    # The configuration memory starts at 0x80; the unit address is at 0x5E
    # in it and again at 0x60, low byte first.
    image = open(module.image, "rb").read()
    first, again = image[0x80 + 0x5E:0x80 + 0x60], image[0x80 + 0x60:0x80 + 0x62]
    return "%04X" % (first[0] | first[1] << 8) if first == again else None


def case_station(args, work):
    # Adapters a and b are there when the station starts; c comes later and
    # answers slowly, so that it can be pulled in the middle of its write.
    mods = {"ftdi_a": VModule(args.vmodule, work, "st-a", 57600),
            "ftdi_b": VModule(args.vmodule, work, "st-b", 57600),
            "ftdi_c": VModule(args.vmodule, work, "st-c", 57600, ["--delay", "40"])}
    out = os.path.join(work, "station.out")
    if os.path.exists(out):
        os.unlink(out)
    vm = None
    try:
        vm = Machine(args, work, list(mods.items()), [], plugged={"ftdi_a", "ftdi_b"}, out_console=out)
        names = {dev_id: Machine.by_id_name(port) for dev_id, port in vm.usb_ids.items()}
        for dev_id in ("ftdi_a", "ftdi_b"):
            vm.ok(f"i=0; while [ ! -e /dev/serial/by-id/{names[dev_id]} ] && [ $i -lt 600 ]; do sleep 0.05; "
                  f"i=$((i+1)); done; readlink /dev/serial/by-id/{names[dev_id]}",
                  f"{dev_id}: /dev/serial/by-id/{names[dev_id]}, named as udev names it")
        freqs = ["915.064"] * 3
        profile = {"format": "tarnwick-config-profile", "version": 1,
                   "encryptionKey": "9A3C5E7F11D2B4A6C8E0F2143658709B",
                   "channel12Frequencies": freqs, "channel13Frequencies": freqs, "channel14Frequencies": freqs,
                   "channel15Frequencies": freqs, "temperatureCalibration": "0", "customSerialBaudRate": "300",
                   "powerUpMode": "Cable Link", "rfDataRate": "76800 bps", "rfChannel": "Channel 3",
                   "pointToPoint": "Point A", "uartEnable": "UART Enable", "uartBaudRate": "115200 baud",
                   "uartBitSettings": "8,n,1", "uartFlowControl": "Hardware", "outputPins": [1],
                   "unitAddress": "FFFE"}
        put_file(vm, host_file(work, "line.json", json.dumps(profile).encode()), "/tmp/line.json")
        vm.ok("tarnwick-cli station /tmp/line.json --unit-address-from 0100 --json >/dev/hvc1 2>/tmp/station.err & "
              "echo $! >/tmp/station.pid", "station started, watching /dev/serial/by-id")
        lines = JsonLines(out, lambda: vm.run("cat /tmp/station.err")[1])

        def finished(dev_id):
            return lambda o: "ok" in o and o.get("by_id", "").endswith("/" + names[dev_id])

        # Two at once: both plugged before either finished, each its own address.
        results, plugged, ended = {}, [], []
        for dev_id in ("ftdi_a", "ftdi_b"):
            plugged.append(lines.wait(f"{dev_id} plugged", lambda o, d=dev_id: o.get("event") == "plugged"
                                      and o.get("name") == names[d])[2])
        for dev_id in ("ftdi_a", "ftdi_b"):
            _, r, index = lines.wait(f"{dev_id} finished", finished(dev_id))
            check(r["ok"], f"{dev_id}: passed (programmed and verified through ftdi_sio)", json.dumps(r))
            results[dev_id] = r
            ended.append(index)
        check(max(plugged) < min(ended), "the two modules ran at once (both plugged before either finished)")
        given = sorted(r["unit_address"] for r in results.values())
        check(given == ["0100", "0101"], f"the two modules at once got 0100 and 0101 ({given})")
        for dev_id, r in results.items():
            check(image_unit_address(mods[dev_id]) == r["unit_address"],
                  f"{dev_id}: the module holds unit address {r['unit_address']}")

        # Taken out after they passed: unplugged, no failure. With the last
        # link udev removes the folder itself; the station follows it back.
        for dev_id in ("ftdi_a", "ftdi_b"):
            vm.pull(dev_id)
            lines.wait(f"{dev_id} unplugged", lambda o, d=dev_id: o.get("event") == "unplugged"
                       and o.get("name") == names[d])
            check(True, f"{dev_id}: the station saw it taken out")
        vm.ok("i=0; while [ -e /dev/serial/by-id ] && [ $i -lt 600 ]; do sleep 0.05; i=$((i+1)); done; "
              "[ ! -e /dev/serial/by-id ]", "/dev/serial/by-id went with its last link")

        # Plugged (the folder comes back), then pulled in the middle of its
        # Program Config.
        since = image_mtime(mods["ftdi_c"])
        vm.plug("ftdi_c")
        wait_for_write(mods["ftdi_c"], since, "the station's Program Config")
        vm.pull("ftdi_c")
        pulled_at = time.monotonic()
        at, failed, _ = lines.wait("ftdi_c failed", finished("ftdi_c"), 30)
        check(not failed["ok"] and failed.get("step") in ("Program Config", "Verify"),
              f"ftdi_c: failed in {failed.get('step')}", json.dumps(failed))
        check(at - pulled_at <= 1.0, f"ftdi_c: failed {at - pulled_at:.2f} s after it was pulled (at most 1 s)",
              json.dumps(failed))
        check(failed["error"].startswith("pulled during ") and not WINDOWS_WORDS.search(failed["error"]),
              f"ftdi_c: the reason in words: {failed['error']}")

        # Plugged again: programmed again, linked to the failed try, with the
        # address reserved for it.
        vm.plug("ftdi_c")
        redo = lines.wait("ftdi_c finished again", finished("ftdi_c"))[1]
        check(redo["ok"] and redo.get("redo_of") == failed["row_id"],
              "ftdi_c: passed when plugged again, its row linked to the failed one", json.dumps(redo))
        check(redo["unit_address"] not in given and image_unit_address(mods["ftdi_c"]) == redo["unit_address"],
              f"ftdi_c: unit address {redo['unit_address']}, given to no other module")

        # Ctrl-C: the summary and the exit status of a run with a failure.
        rc, text = vm.run("kill -INT $(cat /tmp/station.pid); wait $(cat /tmp/station.pid); echo status=$?")
        summary = lines.wait("summary", lambda o: o.get("event") == "summary", 30)[1]
        check("status=1" in text and summary["passed"] == 3 and summary["failed"] == 1,
              "Ctrl-C: passed 3, failed 1, exit status 1", text + json.dumps(summary))
        text = vm.ok("tarnwick-cli history --json", "the record's rows")
        rows = [json.loads(line) for line in text.splitlines() if line.startswith("{")]
        kept = sorted((row.get("unit_address"), row.get("outcome")) for row in rows)
        want = sorted([(a, "ok") for a in given] + [(failed["unit_address"], "failed"), (redo["unit_address"], "ok")])
        check(kept == want, f"the record holds a row for every try, the failed one too: {kept}", text)
    finally:
        if vm:
            vm.stop()
        for m in mods.values():
            m.stop()


CASES = {"serial": case_serial, "pull": case_pull, "station": case_station}


def main():
    p = argparse.ArgumentParser()
    p.add_argument("case", choices=sorted(CASES))
    p.add_argument("--cli", required=True)
    p.add_argument("--vmodule", required=True)
    p.add_argument("--modem-lines", required=True)
    p.add_argument("--work", required=True)
    p.add_argument("--kernel", help="the kernel to boot (default: the newest in /boot with modules)")
    args = p.parse_args()
    os.makedirs(args.work, exist_ok=True)
    # The virtual modules' air sockets and such stay in the work folder.
    os.environ["XDG_RUNTIME_DIR"] = args.work
    started = time.monotonic()
    try:
        CASES[args.case](args, args.work)
    except Failure as e:
        print(f"FAIL {e}\n(logs in {args.work})", flush=True)
        return 1
    print(f"driver case {args.case}: passed in {time.monotonic() - started:.0f} s")
    return 0


if __name__ == "__main__":
    sys.exit(main())
