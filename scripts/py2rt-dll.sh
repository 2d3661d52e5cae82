#!/usr/bin/env bash
# Builds a real Python 2.7 interpreter as dice_py.dll for 32-bit Windows with MinGW i686:
# the runtime that hostsim's dedicated-server copy embeds, as the game's server embeds its
# own. A test dependency like Wine: built into the build tree by scripts/py2rt.sh, never
# committed, never shipped beside ostrel.dll.
#
# Usage: py2rt-dll.sh OUTDIR
#
# The only input is Debian's python2.7 source package (bullseye, 2.7.18), fetched with
# apt-get through a private source list and private state/cache directories under OUTDIR,
# so the system's apt configuration is never changed. Only the pristine upstream tarball
# (.orig) is used, pinned by its SHA-256; Debian's patches are not applied.
#
# Results: OUTDIR/dice_py.dll (CPython 2.7.18, C API 1013, release build, cdecl exports by
# their plain names, importing only system DLLs), OUTDIR/libdice_py.dll.a (its import
# library), OUTDIR/LICENSE, and OUTDIR/srcpkg/ (the checked tarball, which py2rt.sh also
# builds the native runtime from). Started with Py_NoSiteFlag = 1 it needs no library
# files. The path of the DLL is printed last. If the DLL and import library already
# exist, nothing is done.
set -euo pipefail

[[ $# -eq 1 ]] || { echo "usage: $0 OUTDIR" >&2; exit 2; }
mkdir -p "$1"
OUT=$(cd "$1" && pwd)
DLL=$OUT/dice_py.dll
IMPLIB=$OUT/libdice_py.dll.a

if [[ -s $DLL && -s $IMPLIB ]]; then
    echo "$DLL"
    exit 0
fi

log() { echo "build.sh: $*" >&2; }

# ---------------------------------------------------------------- tools
# Install Debian packages (needs root); refresh the system's package index only if the
# first attempt fails, as it may on a machine that never ran apt-get update.
install_pkgs() {
    log "installing $*"
    apt-get install -y -q --no-install-recommends "$@" >&2 \
        || { apt-get update -q >&2 && apt-get install -y -q --no-install-recommends "$@" >&2; }
}
need() {  # need COMMAND PACKAGE
    command -v "$1" >/dev/null 2>&1 || install_pkgs "$2"
}
# apt-get source --download-only needs neither dpkg-dev nor xz-utils: the upstream
# tarball is gzip-compressed and only tar unpacks it here.
need tar tar
need gzip gzip
KEYRING=/usr/share/keyrings/debian-archive-keyring.gpg
[[ -s $KEYRING ]] || install_pkgs debian-archive-keyring
# The win32-threads flavour of the cross compiler needs no winpthread DLL at run time.
if command -v i686-w64-mingw32-gcc-win32 >/dev/null 2>&1; then
    CC=i686-w64-mingw32-gcc-win32
else
    need i686-w64-mingw32-gcc gcc-mingw-w64-i686-win32
    CC=i686-w64-mingw32-gcc
fi
need i686-w64-mingw32-strip binutils-mingw-w64-i686

# ---------------------------------------------------------------- source package
APTDIR=$OUT/apt
APT_OPTS=(
    -o Dir::Etc::SourceList=/dev/null
    -o Dir::Etc::SourceParts="$APTDIR/sources"
    -o Dir::State::Lists="$APTDIR/lists"
    -o Dir::Cache="$APTDIR/cache"
    -o APT::Sandbox::User=root
)
SRCPKG=$OUT/srcpkg
if [[ ! -s $SRCPKG/python2.7_2.7.18.orig.tar.gz ]]; then
    mkdir -p "$APTDIR/sources" "$APTDIR/lists/partial" "$APTDIR/cache/archives/partial" "$SRCPKG"
    # The archive is the one this machine's own apt sources install its release from (the
    # site of its main suite); the older bullseye suite there still carries python2.7.
    codename=$(. /etc/os-release 2>/dev/null && echo "${VERSION_CODENAME:-}")
    SITE=$(apt-get indextargets --format '$(TARGET_OF) $(SITE) $(RELEASE)' 2>/dev/null \
        | awk -v c="$codename" '$1 == "deb" && $3 == c {print $2; exit}')
    [[ -n $SITE ]] || { log "this machine's apt sources name no Debian archive for $codename"; exit 1; }
    printf 'Types: deb-src\nURIs: %s\nSuites: bullseye\nComponents: main\nSigned-By: %s\n' \
        "$SITE" "$KEYRING" > "$APTDIR/sources/bullseye.sources"
    log "fetching the python2.7 source package (bullseye)"
    apt-get -q "${APT_OPTS[@]}" update >&2 \
        && (cd "$SRCPKG" && apt-get -q "${APT_OPTS[@]}" source --download-only python2.7 >&2)
    [[ -s $SRCPKG/python2.7_2.7.18.orig.tar.gz ]] || { log "download failed"; exit 1; }
fi
# apt checked the files against the signed index; pin the upstream tarball as well.
TARBALL=$SRCPKG/python2.7_2.7.18.orig.tar.gz
TARBALL_SHA256=da3080e3b488f648a3d7a4560ddee895284c3380b11d6de75edb986526b9a814
echo "$TARBALL_SHA256  $TARBALL" | sha256sum -c --quiet - >&2 \
    || { log "checksum mismatch for $TARBALL"; exit 1; }

# ---------------------------------------------------------------- working copy
# A fresh copy each time, so the adjustments below always start from pristine files.
B=$OUT/build
rm -rf "$B"
mkdir -p "$B/obj" "$B/gen" "$B/shim"
log "extracting $(basename "$TARBALL")"
tar -xf "$TARBALL" -C "$B" --strip-components=1 \
    Python-2.7.18/Include Python-2.7.18/Objects Python-2.7.18/Parser \
    Python-2.7.18/Python Python-2.7.18/PC Python-2.7.18/Modules Python-2.7.18/LICENSE
grep -Eq '#define PY_VERSION[[:space:]]+"2.7.18"' "$B/Include/patchlevel.h" \
    || { log "unexpected source version"; exit 1; }

# ---------------------------------------------------------------- adjustments for MinGW
# 1. signalmodule.c includes <Windows.h>; the MinGW headers are lower case.
echo '#include <windows.h>' > "$B/shim/Windows.h"

# 2. pyconfig.h: PC's version, plus MinGW facts it only knows for MSVC. The block goes in
#    before the header's closing include guard.
{
    sed '/^#endif \/\* !Py_CONFIG_H \*\//d' "$B/PC/pyconfig.h"
    cat <<'EOF'

/* MinGW-w64 (i686) additions */
#ifdef __MINGW32__
/* C library functions PC/pyconfig.h only assumes for newer MSVC. With HAVE_ROUND unset,
   Python/pymath.c would supply its own round(). */
#define HAVE_ROUND 1
#define HAVE_EXPM1 1
#define HAVE_LOG1P 1
#define HAVE_ACOSH 1
#define HAVE_ASINH 1
#define HAVE_ATANH 1
#define HAVE_ERF 1
#define HAVE_ERFC 1
#define HAVE_UINTPTR_T 1
#define HAVE_INTPTR_T 1
#endif

#endif /* !Py_CONFIG_H */
EOF
} > "$B/gen/pyconfig.h"
grep -q 'MinGW-w64 (i686) additions' "$B/gen/pyconfig.h"

# 3. dynload_win.c has a private strcasecmp that clashes with MinGW's declaration.
sed -i 's/\bstrcasecmp\b/py_strcasecmp/g' "$B/Python/dynload_win.c"

# 4. posixmodule.c builds its Windows ("nt") variant only for MSVC; accept MinGW too.
sed -i -e 's/^#ifdef _MSC_VER\b/#if defined(_MSC_VER) || defined(__MINGW32__)/' \
       -e 's/^#ifndef _MSC_VER\b/#if !defined(_MSC_VER) \&\& !defined(__MINGW32__)/' \
       -e 's/defined(_MSC_VER)/(defined(_MSC_VER) || defined(__MINGW32__))/g' \
       "$B/Modules/posixmodule.c"

# 5. The built-in module table: a small, dependency-free set.
BUILTINS=(nt:initnt time:inittime thread:initthread signal:initsignal gc:initgc
          errno:initerrno _sre:init_sre _struct:init_struct _codecs:init_codecs
          _weakref:init_weakref zipimport:initzipimport imp:initimp
          marshal:PyMarshal_Init _warnings:_PyWarnings_Init)
{
    echo '/* Table of built-in modules (see init_builtin() in import.c). */'
    echo '#include "Python.h"'
    for m in "${BUILTINS[@]}"; do echo "extern void ${m#*:}(void);"; done
    echo 'struct _inittab _PyImport_Inittab[] = {'
    for m in "${BUILTINS[@]}"; do echo "    {\"${m%%:*}\", ${m#*:}},"; done
    echo '    {"__main__", NULL}, {"__builtin__", NULL}, {"sys", NULL}, {"exceptions", NULL},'
    echo '    {0, 0}'
    echo '};'
} > "$B/gen/config.c"

# ---------------------------------------------------------------- sources
# The core of PCbuild/pythoncore.vcxproj, with only the modules listed above.
SRCS=(
    $(cd "$B" && ls Objects/*.c)
    Parser/{acceler,bitset,firstsets,grammar,grammar1,listnode,metagrammar,myreadline}.c
    Parser/{node,parser,parsetok,tokenizer}.c
    Python/{_warnings,asdl,ast,bltinmodule,ceval,codecs,compile,dtoa,dynload_win,errors}.c
    Python/{formatter_string,formatter_unicode,frozen,future,getargs,getcompiler}.c
    Python/{getcopyright,getopt,getplatform,getversion,graminit,import,importdl,marshal}.c
    Python/{modsupport,mysnprintf,mystrtoul,peephole,pyarena,pyctype,pyfpe,pymath}.c
    Python/{pystate,pystrcmp,pystrtod,Python-ast,pythonrun,random,structmember,symtable}.c
    Python/{sysmodule,thread,traceback}.c
    PC/{dl_nt,getpathp,import_nt}.c gen/config.c
    Modules/{main,getbuildinfo,posixmodule,timemodule,threadmodule,signalmodule}.c
    Modules/{gcmodule,errnomodule,_sre,_struct,_codecsmodule,_weakref,zipimport}.c
)

# Generated pyconfig.h first, then Include, then PC (errmap.h) and Python (importdl.h).
# Paths are relative to the working copy, where the compiler runs.
# GCC 14 and later turn a few old-style pointer mismatches in posixmodule.c and getpathp.c
# into errors; keep them warnings (silenced by -w) so newer compilers behave like GCC 12.
CFLAGS="-O2 -fwrapv -fno-strict-aliasing -DNDEBUG -DPy_BUILD_CORE -Igen -Ishim -IInclude -IPC -IPython"
CFLAGS="$CFLAGS -w -Wno-error=incompatible-pointer-types -Wno-error=implicit-function-declaration"

# A fixed build date (2.7.18's release day) and no link timestamp make the DLL
# reproducible; GCC takes __DATE__/__TIME__ from SOURCE_DATE_EPOCH.
export SOURCE_DATE_EPOCH=1587340800

JOBS=$(nproc 2>/dev/null || echo 2)
log "compiling ${#SRCS[@]} files with $CC (-j$JOBS)"
cd "$B"
export CC CFLAGS
printf '%s\n' "${SRCS[@]}" | xargs -P "$JOBS" -n 1 sh -c \
    'o=obj/$(echo "$1" | tr / _); $CC $CFLAGS -c "$1" -o "${o%.c}.o" || { echo "FAILED: $1" >&2; exit 1; }' _

# ---------------------------------------------------------------- link
# The API is exported by the headers' own __declspec(dllexport) markings. A fixed image
# base (the one CPython's own Windows DLL prefers) keeps the output independent of OUTDIR.
log "linking dice_py.dll"
"$CC" -shared -o dice_py.dll obj/*.o -static-libgcc \
    -Wl,--out-implib,libdice_py.dll.a -Wl,--image-base,0x1e000000 -Wl,--no-insert-timestamp \
    -ladvapi32 -lshell32 -luser32
i686-w64-mingw32-strip --strip-unneeded dice_py.dll

cp "$B/LICENSE" "$OUT/LICENSE"
mv "$B/libdice_py.dll.a" "$IMPLIB"
mv "$B/dice_py.dll" "$DLL"    # last: its presence marks a finished build
cd "$OUT"
rm -rf "$B"
echo "$DLL"
