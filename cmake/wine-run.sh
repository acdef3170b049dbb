#!/bin/sh
# Runs a Windows program under wine64 in the build tree's own prefix.
# usage: wine-run.sh PREFIX PROGRAM [ARGUMENTS...]
#
# The Japanese locale makes Wine's ANSI code page 932, the program's own;
# CORVINA_LANG names another (with LOCPATH where it was made) to show that
# the program's texts do not depend on it. The prefix is made once, under a
# lock, by the first program that needs it. The dialogs ask for "Yu Gothic UI"
# (older builds for "ＭＳ Ｐゴシック"), and Wine's own (the property sheet's
# frame) for "MS UI Gothic"; Wine lacks them all and would take a font of
# fixed width. IPA P Gothic is proportional, of like width, so texts fit as
# on Windows.
prefix=$1
shift
# Wine says nothing of its own unless WINEDEBUG asks for a channel.
export WINEPREFIX="$prefix" WINEARCH=win64 WINEDEBUG="${WINEDEBUG:--all}"
export LANG=${CORVINA_LANG:-ja_JP.UTF-8} LC_ALL=${CORVINA_LANG:-ja_JP.UTF-8}
# No Mono or Gecko installer prompts: nothing here needs them.
export WINEDLLOVERRIDES="mscoree,mshtml="
if [ ! -f "$prefix/.made" ]; then
    mkdir -p "$(dirname "$prefix")"
    (
        flock 9
        if [ ! -f "$prefix/.made" ]; then
            /usr/lib/wine/wine64 wineboot -i >/dev/null 2>&1 &&
                /usr/lib/wine/wine64 reg add 'HKCU\Software\Wine\Fonts\Replacements' \
                    /v 'ＭＳ Ｐゴシック' /t REG_SZ /d IPAPGothic /f >/dev/null 2>&1 &&
                /usr/lib/wine/wine64 reg add 'HKCU\Software\Wine\Fonts\Replacements' \
                    /v 'MS UI Gothic' /t REG_SZ /d IPAPGothic /f >/dev/null 2>&1 &&
                /usr/lib/wine/wine64 reg add 'HKCU\Software\Wine\Fonts\Replacements' \
                    /v 'Yu Gothic UI' /t REG_SZ /d IPAPGothic /f >/dev/null 2>&1 &&
                /usr/lib/wine/wineserver -w && touch "$prefix/.made"
        fi
    ) 9>"$prefix.lock"
fi
exec /usr/lib/wine/wine64 "$@"
