# The Debian packages of the project, sourced by scripts/setup and by
# scripts/check-package-sets.

# Building the programs and running the window. RtMidi's development package
# depends on either JACK's; naming JACK 2's here keeps apt from choosing JACK
# 1's, which the tests' JACK 2 server would then remove, RtMidi with it.
run_packages=(
  cmake ninja-build g++ pkg-config
  librtmidi-dev libjack-jackd2-dev libasound2-dev zlib1g-dev
  qt6-base-dev qt6-base-dev-tools
)
# The tests: GoogleTest and Benchmark, the sanitizers' and fuzzers' clang, a
# compiler cache for their several build trees, a JACK server, the USB rig's
# VM, the package checks, a virtual display.
test_packages=(
  libgtest-dev libgmock-dev libbenchmark-dev
  clang libclang-rt-14-dev ccache
  jackd2
  qemu-system-x86 linux-image-amd64 busybox-static cpio
  fonts-noto-cjk
  dpkg-dev lintian desktop-file-utils appstream man-db
  xvfb xauth x11-utils libglib2.0-bin
)
# The Windows build, its tests under Wine (scripts/test-windows) and its zip
# and installer (scripts/package-windows). Where they cannot be installed
# those tests are skipped, not the rest.
windows_packages=(
  g++-mingw-w64-x86-64-posix libz-mingw-w64-dev googletest
  wine wine64 imagemagick
  nsis zip unzip osslsigncode
)

# The calls scripts/setup makes to apt for MODE ("run", or "" for everything),
# in order, one a line: "required" or "optional" (a call whose failure only
# skips the tests that need it), then the packages.
setup_calls() {
  if [ "$1" = run ]; then
    echo "required ${run_packages[*]}"
  else
    echo "required ${run_packages[*]} ${test_packages[*]}"
    echo "optional ${windows_packages[*]}"
  fi
}
