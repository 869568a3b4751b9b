#!/usr/bin/env bash
# Fails when a source file includes a header of a layer above its own. Layers, top to bottom:
#
#   60 app/                                       the main window and the program
#   50 dialogs/, profiles/Dialog*, the script console   tool windows and dialogs
#   40 dialogs/common/                            window pieces all windows share
#   35 scripting/ (engine, tesmar-script)         scripts without a window
#   30 service/, profiles/ (file formats)         procedures and formats, Qt Core
#   20 device/                                    device model and session, Qt Core
#   10 controller/                                one class per run-time library
#    0 snmplib/, snmplib/interfaces/, sim/        C interfaces; the simulator and stand-ins
#
# A file may include its own layer and every layer below. The simulator and the stand-in
# libraries sit beside the program at the bottom: they share the interface headers in
# snmplib/interfaces/ with the controllers, and nothing else of the program but the S-record
# reader (the simulated VME modules check firmware records exactly as the program does).
#
# Quoted includes are resolved as the compiler does: "dir/X.h" from the top of the tree, a bare
# "X.h" from the including file's folder, else from app/ (the window library's private include
# folder, where a form's promoted widget headers are found). Headers of forms (<header> in .ui
# files) count as includes. Tests and benchmarks stand above everything and are not checked.
#
#   scripts/check-layers.sh [TREE]     check TREE (default: this tree)
#   scripts/check-layers.sh --self-test   show that the check finds upward includes
set -euo pipefail

rank_of() {
    # The layer of a path relative to the tree's top; the longest matching prefix wins.
    case "$1" in
    app/*) echo 60 ;;
    dialogs/common/*) echo 40 ;;
    dialogs/*) echo 50 ;;
    profiles/Dialog*) echo 50 ;;
    scripting/DialogScriptConsole* | scripting/ScriptOutputModel*) echo 50 ;;
    scripting/*) echo 35 ;;
    service/* | profiles/*) echo 30 ;;
    device/*) echo 20 ;;
    controller/*) echo 10 ;;
    snmplib/* | sim/*) echo 0 ;;
    *) echo "" ;;
    esac
}

# Includes allowed across the rule above, "including file prefix|included file".
allowed_exception() {
    case "$1|$2" in
    sim/*"|service/SRecord.h") return 0 ;;
    esac
    return 1
}

check_tree() {
    local top=$1 failures=0 file line inc target from to
    cd "$top"
    while IFS= read -r file; do
        from=$(rank_of "$file")
        [ -n "$from" ] || continue
        while IFS=: read -r line inc; do
            if [[ "$inc" == */* ]]; then
                target=$inc
            elif [ -e "$(dirname "$file")/$inc" ]; then
                target=$(dirname "$file")/$inc
            elif [ -e "app/$inc" ]; then
                target=app/$inc
            else
                continue # generated (ui_*.h, moc) or not ours
            fi
            to=$(rank_of "$target")
            [ -n "$to" ] || continue
            if [ "$to" -gt "$from" ] && ! allowed_exception "$file" "$target"; then
                echo "$file:$line: includes $target, a layer above its own ($to > $from)"
                failures=$((failures + 1))
            fi
        done < <(sed -n -E 's/^[[:space:]]*#[[:space:]]*include[[:space:]]*"([^"]+)".*/\1/p;
                            s/^[[:space:]]*<header>([^<]+)<\/header>.*/\1/p' "$file" |
            paste -d: <(grep -n -E '^[[:space:]]*(#[[:space:]]*include[[:space:]]*"|<header>)' "$file" | cut -d: -f1) -)
    done < <(find app dialogs profiles scripting service device controller snmplib sim -type f \
        \( -name '*.h' -o -name '*.c' -o -name '*.cpp' -o -name '*.ui' \) 2>/dev/null | LC_ALL=C sort)
    return $((failures > 0))
}

self_test() {
    local tree
    tree=$(mktemp -d)
    trap "rm -rf '$tree'" EXIT
    mkdir -p "$tree"/{app,dialogs/common,device,controller,snmplib/interfaces,sim/vme,service}
    touch "$tree"/app/{Window.h,Table.h} "$tree"/dialogs/common/ToolWindow.h "$tree"/controller/Entry.h \
        "$tree"/snmplib/interfaces/Bridge.h "$tree"/service/SRecord.h "$tree"/device/Journal.h
    # Allowed: downward, sideways within a folder, the stand-in's interface and S-record reader.
    printf '#include "dialogs/common/ToolWindow.h"\n#include "Table.h"\n' >"$tree/app/Window.cpp"
    printf '#include "snmplib/interfaces/Bridge.h"\n#include "service/SRecord.h"\n' >"$tree/sim/vme/StandIn.cpp"
    printf '#include "Journal.h"\n#include "controller/Entry.h"\n' >"$tree/device/Journal.cpp"
    # Upward: each of these must be reported.
    printf '#include <QString>\n#include "app/Window.h"\n' >"$tree/device/Upward.cpp"
    printf '#include "Table.h"\n' >"$tree/dialogs/common/ThroughAppFolder.cpp"
    printf '#include "controller/Entry.h"\n' >"$tree/sim/vme/Binding.cpp"
    printf '<ui>\n  <header>Table.h</header>\n</ui>\n' >"$tree/dialogs/Form.ui"
    local output status=0
    output=$(check_tree "$tree") || status=$?
    local expected="device/Upward.cpp:2: includes app/Window.h, a layer above its own (60 > 20)
dialogs/Form.ui:2: includes app/Table.h, a layer above its own (60 > 50)
dialogs/common/ThroughAppFolder.cpp:1: includes app/Table.h, a layer above its own (60 > 40)
sim/vme/Binding.cpp:1: includes controller/Entry.h, a layer above its own (10 > 0)"
    if [ "$status" -eq 0 ] || [ "$output" != "$expected" ]; then
        echo "check-layers self-test failed; reported (status $status):"
        echo "$output"
        return 1
    fi
    echo "check-layers self-test: the four upward includes found, nothing else"
}

if [ "${1:-}" = "--self-test" ]; then
    self_test
    exit
fi
top=${1:-$(cd "$(dirname "$0")/.." && pwd)}
if check_tree "$top"; then
    echo "check-layers: no upward include"
else
    echo "check-layers: upward includes found (see above)"
    exit 1
fi
