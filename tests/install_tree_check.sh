#!/usr/bin/env bash
# What an install leaves, checked as a player's desktop and hosts see it.
#
#   install_tree_check.sh prefix BUILD SOURCE [VST3_VALIDATOR]
#     cmake --install into a scratch prefix: every file against
#     tests/data/installed-files.txt, the man pages naming that prefix.
#   install_tree_check.sh user BUILD SOURCE [VST3_VALIDATOR]
#     the install as a player makes it for themself, into a scratch HOME:
#     --prefix ~/.local with ONDELITH_USER_PLUGINS, the plugins found by
#     lv2ls and lv2info in ~/.lv2 and by the VST3 validator in ~/.vst3.
#   install_tree_check.sh package BUILD|DEB SOURCE [VST3_VALIDATOR]
#     the Debian package (made from BUILD by cpack, or given): its files (the same list under /usr, and Debian's
#     copyright and changelog); as root installed with dpkg, run, loaded by
#     lv2info and the validator and purged with nothing left; otherwise
#     unpacked with dpkg-deb -x and checked there.
set -euo pipefail
mode=$1 input=$2 source=$3 validator=${4:-}
scratch=$(mktemp -d "${TMPDIR:-/tmp}/ondelith-install.XXXXXX")
trap 'rm -rf "$scratch"' EXIT
fail() { echo "install_tree_check.sh $mode: $*" >&2; exit 1; }

# The expected files under a prefix, then the files found under ROOT/PREFIX.
expected() {
  grep -v '^#' "$source/tests/data/installed-files.txt" | sed "s/ARCH/$(uname -m)/"
  grep -v '^#' "$source/data/sounds/bank.list" | cut -f4 | sed 's|^|share/ondelith/sounds/|'
}
found() { (cd "$1" && find . \( -type f -o -type l \) | sed 's|^\./||'); }
same_files() {  # same_files WANTED FOUND
  local diff
  diff=$(diff <(sort <<<"$1") <(sort <<<"$2")) || fail "files differ (< wanted, > installed):"$'\n'"$diff"
}
validates() {  # validates VST3_BUNDLE
  [[ -x $validator ]] || return 0
  "$validator" -q "$1" >/dev/null 2>&1 || fail "the VST3 validator fails on $1"
}
lv2_binary() {  # lv2_binary LV2_PATH: where lv2info finds the plugin's code
  local info
  info=$(LV2_PATH=$1 lv2info urn:ondelith:lv2) || fail "lv2info does not find urn:ondelith:lv2 in $1"
  awk '/Binary:/ { sub(/.*file:\/\//, ""); print; exit }' <<<"$info"
}

case $mode in
  prefix)
    prefix=$scratch/prefix
    cmake --install "$input" --prefix "$prefix" >/dev/null
    same_files "$(expected)" "$(found "$prefix")"
    for page in ondelith ondelith-render; do
      zcat "$prefix/share/man/man1/$page.1.gz" | grep -q '^\.TH .*"Ondelith [0-9.]*"' ||
        fail "$page.1 names no version"
    done
    zcat "$prefix/share/man/man1/ondelith.1.gz" | grep -qxF ".I $prefix/share/ondelith/sounds/" ||
      fail "ondelith.1 does not name the installed bank"
    ;;
  user)
    home=$scratch/home
    mkdir -p "$home"
    # As cmake --install runs it, with the option given at configure time.
    HOME=$home cmake -DCMAKE_INSTALL_PREFIX="$home/.local" -DONDELITH_USER_PLUGINS=ON \
      -P "$input/cmake_install.cmake" >/dev/null
    [[ -x $home/.local/bin/ondelith && -f $home/.local/share/applications/ondelith.desktop ]] ||
      fail "the program is not in ~/.local"
    [[ ! -e $home/.local/lib ]] || fail "plugins went under ~/.local/lib, where hosts do not look"
    listed=$(HOME=$home env -u LV2_PATH lv2ls)
    grep -qx 'urn:ondelith:lv2' <<<"$listed" || fail "lv2ls does not list the plugin from ~/.lv2"
    [[ $(lv2_binary "$home/.lv2") == "$home/.lv2/ondelith.lv2/ondelith.so" ]] ||
      fail "lv2info does not load it from ~/.lv2"
    [[ -f $home/.clap/ondelith.clap ]] || fail "no ~/.clap/ondelith.clap"
    validates "$home/.vst3/ondelith.vst3"
    ;;
  package)
    if [[ -d $input ]]; then
      cpack --config "$input/CPackConfig.cmake" -B "$scratch/deb" >/dev/null
      input=$(echo "$scratch"/deb/*.deb)
    fi
    doc=(share/doc/ondelith/copyright share/doc/ondelith/changelog.Debian.gz)
    wanted=$(expected; printf '%s\n' "${doc[@]}")
    dpkg-deb -x "$input" "$scratch/root"
    same_files "$(sed 's|^|usr/|' <<<"$wanted")" "$(found "$scratch/root")"
    zcat "$scratch/root/usr/share/man/man1/ondelith.1.gz" | grep -qxF '.I /usr/share/ondelith/sounds/' ||
      fail "ondelith.1 does not name /usr/share/ondelith/sounds/"
    [[ $(id -u) -eq 0 ]] || { echo "not root: the package checked unpacked"; exit 0; }
    package=$(dpkg-deb -f "$input" Package)
    if dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed"; then
      echo "$package is installed already: checked unpacked, the installed one left alone"
      exit 77
    fi
    trap 'dpkg --purge "$package" >/dev/null 2>&1 || true; rm -rf "$scratch"' EXIT
    dpkg -i "$input" >/dev/null
    version=$(dpkg-deb -f "$input" Version)
    [[ $(/usr/bin/ondelith --version | head -n 1) == "ondelith ${version%-*}" ]] || fail "ondelith --version"
    /usr/bin/ondelith-render --list-sounds | grep -q . || fail "ondelith-render lists no sounds"
    [[ $(lv2_binary /usr/lib/lv2) == /usr/lib/lv2/ondelith.lv2/ondelith.so ]] ||
      fail "lv2info does not load the installed plugin"
    validates /usr/lib/vst3/ondelith.vst3
    dpkg --purge "$package" >/dev/null
    left=$(while read -r f; do [[ -e /usr/$f ]] && echo "/usr/$f"; done <<<"$wanted"
           for d in /usr/lib/lv2/ondelith.lv2 /usr/lib/vst3/ondelith.vst3 /usr/share/ondelith /usr/share/doc/ondelith; do
             [[ -e $d ]] && echo "$d"; done; true)
    [[ -z $left ]] || fail "left after purge: $left"
    ;;
  *) fail "no such check" ;;
esac
echo "install ($mode): checked"
