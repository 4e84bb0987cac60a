#!/usr/bin/env bash
# Installs what is missing, builds, creates the demo office database (once)
# and starts the office system. Stop it with Ctrl-C.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
cd "$top"

bash scripts/deps.sh
bash scripts/build.sh build -DCMAKE_BUILD_TYPE=RelWithDebInfo
mkdir -p demo
db=${WRENHAVEN_DB:-demo/office.db}
listen=${WRENHAVEN_LISTEN:-127.0.0.1:8080}
wrenhaven=build/cli/wrenhaven

cat <<EOT

Demo accounts (account / password: roles)
  ann / ann123   Administrator, Manager
  ivy / ivy123   Administrator
  dev / dev123   Manager, Engineer
  gia / gia123   Manager, Clerk
  ben / ben123   Clerk
  cho / cho123   Engineer
  eva / eva123   Sales
  finn / finn123 Clerk, Sales
  jon / jon123   Sales
  hal / hal123   (no role: signs in, sees no menu)
EOT

if "$wrenhaven" serve --help >/dev/null 2>&1; then
  echo "The office system: http://$listen/"
  exec "$wrenhaven" serve --db "$db" --listen "$listen" --demo
fi
# Without the web front: set up the database and show how to call the library.
"$wrenhaven" init --db "$db" --demo
echo
echo "Try: $wrenhaven call --db $db --server REQUEST_METHOD=POST --form LoginName=ann --form LoginPwd=ann123 Wrenhaven.Login LoginMain"
