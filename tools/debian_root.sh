#!/usr/bin/env bash
# A Debian root for building and testing for another architecture: this
# machine's own release, with its own architecture and one more (Debian's
# multiarch), made with mmdebstrap on first use. Foreign packages go into
# the root and never onto this machine, whose own packages would otherwise
# have to move to the release's latest point (libc6:arm64 must be the very
# version of libc6). Inside, the source tree is at its own path and /tmp is
# this machine's, so paths and displays mean the same on both sides.
#
#   debian_root.sh ROOT ARCH install PACKAGE...  installs the packages missing from the root
#   debian_root.sh ROOT ARCH runs                succeeds when ARCH's programs run in the
#                                                root as things are (natively, or under an
#                                                emulator registered already)
#   debian_root.sh ROOT ARCH emulate             lets the root run ARCH's programs, under
#                                                qemu-user when this machine cannot itself
#   debian_root.sh ROOT ARCH run COMMAND...      runs the command in the root as the caller
set -euo pipefail

root="$(realpath -m "$1")" arch="$2" action="$3"
shift 3
tree="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
sudo=()
[ "$(id -u)" -eq 0 ] || sudo=(sudo)

# Made in a folder of its own and moved into place when whole, so that an
# interrupted run starts over rather than using half a root.
make_root() {
    # mount, unlike unshare and chroot, is no essential package.
    "$tree/tools/install_missing.sh" mmdebstrap mount
    [ -d "$root" ] && return
    local codename
    codename="$(. /etc/os-release && echo "$VERSION_CODENAME")"
    "${sudo[@]}" rm -rf "$root.part"
    mkdir -p "$(dirname "$root")"
    "${sudo[@]}" mmdebstrap --variant=apt --architectures="$(dpkg --print-architecture),$arch" \
        "$codename" "$root.part"
    "${sudo[@]}" mv "$root.part" "$root"
}

# Runs a command in the root as user (a uid:gid), in a mount namespace of
# its own, so that no mount outlives the command.
enter() {
    local user="$1"
    shift
    "${sudo[@]}" unshare --mount --propagation private -- bash -euo pipefail -c '
        root="$1" tree="$2" user="$3"
        shift 3
        mount --rbind /dev "$root/dev"
        mount -t proc proc "$root/proc"
        mount --rbind /sys "$root/sys"
        mount --bind /tmp "$root/tmp"
        for file in /etc/resolv.conf /etc/hosts; do
            [ -e "$file" ] || continue
            touch "$root$file"
            mount --bind "$file" "$root$file"
        done
        mkdir -p "$root$tree"
        mount --bind "$tree" "$root$tree"
        # The same folder inside, where the root has it.
        folder="$tree"
        case "$PWD/" in "$tree"/*) folder="$PWD" ;; esac
        exec chroot --userspec="$user" "$root" env --chdir="$folder" "$@"' \
        enter "$root" "$tree" "$user" "$@"
}

# The root's dpkg-dev knows the architecture's names for what it builds.
arch_name() {
    enter 0:0 dpkg-architecture -a "$arch" -q "$1" 2>/dev/null
}

# Its dynamic loader runs where the architecture's programs do.
runs_programs() {
    enter 0:0 sh -c 'for loader in /usr/lib/$1/ld-linux*.so.*; do exec "$loader" --version; done; exit 1' \
        loader "$(arch_name DEB_HOST_MULTIARCH)" >/dev/null 2>&1
}

# qemu-user-static's entries, registered by hand where no systemd did it
# (a container); their F flag keeps the emulator usable inside the root.
register_emulator() {
    "$tree/tools/install_missing.sh" qemu-user-static
    local name
    name="qemu-$(arch_name DEB_HOST_GNU_CPU)"
    local binfmt=/proc/sys/fs/binfmt_misc
    [ -e "$binfmt/register" ] || "${sudo[@]}" mount -t binfmt_misc binfmt_misc "$binfmt"
    [ -e "$binfmt/$name" ] || "${sudo[@]}" sh -c "cat /usr/lib/binfmt.d/$name.conf >$binfmt/register"
}

make_root
case "$action" in
install)
    enter 0:0 "$tree/tools/install_missing.sh" "$@"
    ;;
runs)
    enter 0:0 "$tree/tools/install_missing.sh" dpkg-dev "libc6:$arch"
    runs_programs
    ;;
emulate)
    enter 0:0 "$tree/tools/install_missing.sh" dpkg-dev "libc6:$arch"
    runs_programs || register_emulator
    runs_programs || { echo "$arch programs do not run in $root, not even under qemu-user" >&2; exit 1; }
    ;;
run)
    enter "$(id -u):$(id -g)" "$@"
    ;;
*)
    echo "usage: $0 ROOT ARCH install PACKAGE...|runs|emulate|run COMMAND..." >&2
    exit 2
    ;;
esac
