#!/usr/bin/env bash
# Builds the driver tests' guest: an initramfs with busybox, the given
# programs and the shared libraries they load, and the kernel modules of the
# USB host controller, the USB serial adapter and the virtio console with
# their dependencies (the 8250 UART driver is built into Debian's kernel).
# The guest's console is the virtio console (hvc0), not a UART: a search
# over every serial port must not take the console for a module's line.
# A small uevent handler makes /dev/serial/by-id's links as udev names
# them, so that a watched folder sees adapters come and go.
# Usage: make_initramfs.sh OUT.cpio KERNEL_RELEASE PROGRAM|PLUGIN.so...
# (a .so, such as a Qt plugin, goes to its own path, with what it loads).
set -euo pipefail
out=$1 release=$2
shift 2
root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
mkdir -p "$root"/{bin,sbin,dev,proc,sys,tmp,etc,lib/modules,lib64,usr/lib}

# The static busybox (busybox-static): nothing for it to load in the guest.
cp /bin/busybox "$root/bin/busybox"
for applet in sh mount mkdir cat echo ls stty sleep insmod readlink grep poweroff cmp head od rm sync dd dmesg basename \
              dirname mv ln tr cut kill uevent rmdir; do
  ln -s busybox "$root/bin/$applet"
done

# Programs and every library they load, at the path the loader looks for.
copy_with_path() { mkdir -p "$root$(dirname "$1")"; cp -L "$1" "$root$1"; }
for prog in "$@"; do
  case $prog in
    *.so) mkdir -p "$root$(dirname "$prog")"; objcopy --strip-debug "$prog" "$root$prog" ;;
    *) objcopy --strip-debug "$prog" "$root/bin/$(basename "$prog")" ;;
  esac
  ldd "$prog" | awk '/=> \//{print $3} /^[ \t]*\//{print $1}' | while read -r lib; do
    [ -e "$root$lib" ] || copy_with_path "$lib"
  done
done

# Modules in load order, each once.
modules=$(for m in virtio_pci virtio_console xhci_pci ftdi_sio; do modprobe -S "$release" --show-depends "$m"; done |
          awk '$1 == "insmod" && !seen[$2]++ {print $2}')
: >"$root/etc/modules"
for m in $modules; do
  case $m in
    *.ko) cp "$m" "$root/lib/modules/" ;;
    *.ko.xz) xz -dc "$m" >"$root/lib/modules/$(basename "$m" .xz)" ;;
    *.ko.zst) zstd -qdc "$m" >"$root/lib/modules/$(basename "$m" .zst)" ;;
    *) echo "make_initramfs: unexpected module file $m" >&2; exit 1 ;;
  esac
  echo "$(basename "${m%.xz}" | sed 's/\.zst$//')" >>"$root/etc/modules"
done
[ -s "$root/etc/modules" ] || { echo "make_initramfs: no modules for $release (is linux-image-amd64 installed?)" >&2; exit 1; }

# udev's part for serial adapters: usb-MAKER_PRODUCT_SERIAL-ifNN-portN in
# /dev/serial/by-id, made under a passing name and renamed into place; the
# folder made with the first link and removed with the last.
cat >"$root/bin/serial-by-id" <<'BYID'
#!/bin/sh
[ "$SUBSYSTEM" = tty ] || exit 0
case $DEVNAME in ttyUSB*) ;; *) exit 0 ;; esac
dir=/dev/serial/by-id
case $ACTION in
  add)
    port=$(dirname "$(dirname "/sys$DEVPATH")")
    intf=$(dirname "$port")
    usb=$(dirname "$intf")
    name=$(echo "usb-$(cat "$usb/manufacturer")_$(cat "$usb/product")_$(cat "$usb/serial")-if$(cat "$intf/bInterfaceNumber")-port$(cat "$port/port_number")" | tr ' ' _)
    mkdir -p "$dir"
    ln -sf "../../$DEVNAME" "$dir/.#$name" && mv -f "$dir/.#$name" "$dir/$name"
    ;;
  remove)
    for link in "$dir"/*; do
      [ "$(readlink "$link")" = "../../$DEVNAME" ] && rm -f "$link"
    done
    # As udev does, the folders go with their last link.
    rmdir "$dir" /dev/serial 2>/dev/null
    ;;
esac
exit 0
BYID
chmod +x "$root/bin/serial-by-id"

cat >"$root/init" <<'INIT'
#!/bin/sh
mount -t proc proc /proc
mount -t sysfs sys /sys
mount -t devtmpfs dev /dev
mount -t tmpfs tmp /tmp
mount -t debugfs debug /sys/kernel/debug
# Before the drivers: the adapters there at boot get their links too.
uevent /bin/serial-by-id &
for m in $(cat /etc/modules); do insmod /lib/modules/$m || echo "insmod $m failed" >/dev/kmsg; done
# The adapter driver's own account of the divisor it programs.
echo 'module ftdi_sio +p' >/sys/kernel/debug/dynamic_debug/control
echo 1 >/proc/sys/kernel/printk
export PATH=/bin HOME=/tmp XDG_DATA_HOME=/tmp/data XDG_RUNTIME_DIR=/tmp
while [ ! -e /dev/hvc0 ]; do sleep 0.05; done
exec </dev/hvc0 >/dev/hvc0 2>&1
stty -echo -onlcr 2>/dev/null
echo "@@guest-ready@@"
# One command per line from the console; each ends with its exit status.
exec sh
INIT
chmod +x "$root/init"
(cd "$root" && find . | busybox cpio -o -H newc 2>/dev/null) >"$out.tmp"
mv "$out.tmp" "$out"
