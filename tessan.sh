#!/usr/bin/env bash
# Set-up for a fresh Debian machine, run as root (or with sudo available).
#   ./tessan.sh run    install what is missing, build, start the test server
#                      and open the client pointed at it
#   ./tessan.sh test   install what is missing, build and run every test
set -euo pipefail
cd "$(dirname "$0")"

packages=(cmake make g++ ccache pkg-config qt6-base-dev qt6-httpserver-dev qt6-websockets-dev
          libbenchmark-dev clang libclang-rt-14-dev desktop-file-utils appstream dpkg-dev file locales
          libtiff-dev libopencv-core-dev libopencv-imgproc-dev libeigen3-dev libyaml-cpp-dev python3-tifffile python3-skimage libxml2-utils)

install_missing() {
    local missing=()
    for p in "${packages[@]}"; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    local sudo=""
    [ "$(id -u)" -eq 0 ] || sudo=sudo
    echo "Installing: ${missing[*]}"
    $sudo apt-get update -q
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -q "${missing[@]}"
}

# The suite runs a second time on a decimal-comma desktop.
ensure_locale() {
    locale -a 2>/dev/null | grep -qix 'de_DE\.utf-\?8' && return 0
    local sudo=""
    [ "$(id -u)" -eq 0 ] || sudo=sudo
    $sudo sed -i 's/^# *\(de_DE\.UTF-8 UTF-8\)/\1/' /etc/locale.gen
    grep -q '^de_DE\.UTF-8 UTF-8' /etc/locale.gen || echo 'de_DE.UTF-8 UTF-8' | $sudo tee -a /etc/locale.gen >/dev/null
    $sudo locale-gen >/dev/null
}

# build DIR [cmake options...]
build() {
    local dir=$1; shift
    cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER_LAUNCHER=ccache "$@" >/dev/null
    cmake --build "$dir" -j"$(nproc)"
}

# suite DIR [ctest options...]: the tests of a build, with CTest's closing summary
suite() {
    local dir=$1; shift
    QT_QPA_PLATFORM=offscreen ctest --test-dir "$dir" --output-on-failure --no-tests=error -j"$(nproc)" "$@"
}

# install_check DIR: install a build into a scratch prefix, validate its desktop
# entry and metainfo, and pack it; the package must hold exactly these files.
install_check() {
    local dir=$1 id=org.tessan.Tessan
    local files=(bin/tessan bin/tessan-fuse bin/tessan-acquire bin/orvex-sim share/applications/$id.desktop
                 share/icons/hicolor/scalable/apps/$id.svg share/metainfo/$id.metainfo.xml)
    rm -rf "$dir/install-check" "$dir"/tessan_*.deb
    cmake --install "$dir" --prefix "$dir/install-check" >/dev/null
    desktop-file-validate --no-hints "$dir/install-check/share/applications/$id.desktop"
    appstreamcli validate --no-net "$dir/install-check/share/metainfo/$id.metainfo.xml"
    (cd "$dir" && cpack -G DEB >/dev/null)
    local packed wanted
    packed=$(dpkg-deb -c "$dir"/tessan_*.deb | grep '^-' | grep -o '\./usr/.*' | sort)
    wanted=$(printf './usr/%s\n' "${files[@]}" | sort)
    if [ "$packed" != "$wanted" ]; then
        echo "The package holds:" >&2
        echo "$packed" >&2
        echo "instead of:" >&2
        echo "$wanted" >&2
        return 1
    fi
    echo "Install check: $(basename "$dir"/tessan_*.deb) holds the executables, desktop entry, icon and metainfo"
}

# The OME schema that the tests validate written files against is not part of
# the repository: TESSAN_OME_XSD names it, or it is found beside the checkout.
# Without it the tests still read every file back and say once that
# validation was skipped.
ome_schema() {
    local found=${TESSAN_OME_XSD:-}
    if [ -z "$found" ] && [ -f ../shared/ome/ome.xsd ]; then
        found=$(realpath ../shared/ome/ome.xsd)
    fi
    if [ -n "$found" ] && [ ! -f "$found" ]; then
        echo "TESSAN_OME_XSD names $found, which does not exist" >&2
        return 1
    fi
    [ -n "$found" ] || echo "OME schema validation skipped: no ome.xsd (set TESSAN_OME_XSD to the OME 2016-06 schema to validate the files the tests write)" >&2
    TESSAN_OME_XSD=$found
}

case "${1:-}" in
run)
    install_missing
    build build
    build/sim/orvex-sim --port 8642 --log build/orvex-sim.log &
    sim=$!
    trap 'kill $sim 2>/dev/null || true' EXIT
    build/tessan
    ;;
test)
    install_missing
    ensure_locale
    ome_schema
    build build -DTESSAN_OME_XSD="$TESSAN_OME_XSD"
    suite build
    # Unit and end-to-end tests again on a German desktop: the server's
    # numbers must read the same whatever the decimal mark of the desktop.
    LC_ALL=de_DE.UTF-8 suite build -L 'unit|e2e'
    install_check build
    # The same suite once more, built by clang under AddressSanitizer and
    # UndefinedBehaviorSanitizer, with the reply readers' fuzzers (label fuzz).
    build build-asan -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_C_COMPILER=clang \
        -DTESSAN_SANITIZE=ON -DTESSAN_FUZZ=ON -DTESSAN_BENCH=OFF -DTESSAN_OME_XSD="$TESSAN_OME_XSD"
    ASAN_OPTIONS=detect_leaks=0 suite build-asan
    ;;
*)
    echo "usage: $0 run|test" >&2
    exit 2
    ;;
esac
