#!/usr/bin/env bash
# The feroq demonstration, run by scripts/main.sh after the build: works on
# the embedded default farm (the services' default farm file; FEROQ_FARM
# chooses another), sets up servers, accounts and folders, publishes a few
# applications (each only when missing, so the demo can run again), lists
# the tree, exports one application as all four file kinds, and exports the
# whole farm and imports it into a second farm file, whose export must be the
# same bytes.
#
# Files go to $FEROQ_DEMO_DIR, or a new directory under /tmp.
set -euo pipefail
cd "$(dirname "$0")/.."
FEROQ=${FEROQ:-build/tools/feroq/feroq}
out=${FEROQ_DEMO_DIR:-$(mktemp -d "${TMPDIR:-/tmp}/feroq-demo.XXXXXX")}
mkdir -p "$out"

step() { printf '\n== %s\n' "$*"; }
# Shows the command as one would type it, then runs it.
run() {
  local shown="$ feroq" arg
  for arg in "$@"; do
    if [[ "$arg" =~ ^[A-Za-z0-9_./:=,@+-]+$ ]]; then
      shown+=" $arg"
    else
      shown+=" '${arg//\'/\'\\\'\'}'"
    fi
  done
  printf '%s\n' "$shown"
  "$FEROQ" "$@"
}

step "The default farm (created on first use)"
run farm init
run farm info

step "Servers and accounts (through the services' admin interface)"
run server add APPSRV01 APPSRV02 APPSRV03 --if-missing
run account add 'CORP\alice' --if-missing
run account add 'CORP\bob' --if-missing
run account add 'CORP\Accounting' --kind group --if-missing

step "Folders and applications"
run folder create -p '\Applications\Office\Tools'
run folder create -p '\Applications\Finance'
run app publish --if-missing --name Editor --browser-name editor \
  --folder '\Applications\Office\Tools' --program 'C:\Apps\editor.exe' --dir 'C:\Work' \
  --description 'Edits plain text' --encryption RC5_128Bit --sound Basic --color 0x1000000 \
  --window-type 1024X768 --desktop-integrate StartMenu,Desktop --zq-attributes MaximizeOnStartup \
  --server APPSRV01 --server 'APPSRV02:D:\Apps\editor.exe' --user 'CORP\alice' --user 'CORP\Accounting:group'
run app publish --if-missing --name Calculator --browser-name calc \
  --program '"C:\Windows\System32\calc.exe" /standard' --window-type Percent --scale 60 --color 256 \
  --publishing-flags NoBrowserEnum --server APPSRV03 --user 'CORP\bob'
run app publish --if-missing --name Ledger --browser-name ledger --folder '\Applications\Finance' \
  --program 'C:\Finance\ledger.exe' --window-type Custom --width 1200 --height 800 \
  --encryption RC5_56Bit --wl-attributes MinimumEncryption,MinimumSound \
  --server 'APPSRV01:C:\Finance\ledger.exe:E:\Ledger' --server APPSRV03 --user 'CORP\Accounting:group'
run folder tree
run app list
run app show '\Applications\Office\Tools\Editor'

step "One application as definition file, HTML page, launch file and ICO icon"
run app export '\Applications\Office\Tools\Editor' -o "$out/editor"

step "The whole farm out, and into a second farm file"
run export-all "$out/farm"
second="$out/second-farm.db"
rm -f "$second" "$second-wal" "$second-shm"
run --farm "sqlite:$second" farm init --name "feroq copy" --copy-setup-from "$("$FEROQ" farm url)"
run --farm "sqlite:$second" import --create-folders "$out/farm"
run --farm "sqlite:$second" export-all "$out/farm-again"
run --farm "sqlite:$second" folder tree
if diff -r "$out/farm" "$out/farm-again" >/dev/null; then
  echo "round trip: every definition file of the second farm is byte for byte the same"
else
  echo "round trip: the second farm's files differ:" >&2
  diff -r "$out/farm" "$out/farm-again" >&2 || true
  exit 1
fi

step "Files"
find "$out" -type f | sort
