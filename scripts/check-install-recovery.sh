#!/usr/bin/env bash
# Shows that scripts/install-deps.sh survives a mirror in the middle of a
# sync, where one architecture's index of one suite is missing. It builds an
# apt configuration of its own from this machine's sources, with the security
# suite left out for i386 (the failure seen on a real mirror), fetches those
# indexes into a scratch folder, then reports which installs apt can solve
# and what install-deps.sh does with them.
#   check-install-recovery.sh [native|all] [--real]
# Without --real every install is only simulated (apt-get -s); the machine's
# own indexes and packages are left alone. Needs root, like install-deps.sh.
set -euo pipefail
cd "$(dirname "$0")/.."
mode=${1:-all}
real=${2:-}

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
chmod 755 "$scratch" # apt's download user writes the lists here
mkdir -p "$scratch/parts" "$scratch/lists/partial" "$scratch/cache/archives/partial"

# The security suite, for amd64 only: deb822 stanzas get an Architectures
# field, one-line entries an [arch=amd64] option.
for file in /etc/apt/sources.list /etc/apt/sources.list.d/*.sources /etc/apt/sources.list.d/*.list; do
    [ -f "$file" ] || continue
    name=$(basename "$file")
    case "$name" in
        *.sources)
            awk 'BEGIN { RS = ""; ORS = "\n\n" }
                 /(^|\n)Suites:[^\n]*-security/ && !/(^|\n)Architectures:/ { $0 = $0 "\nArchitectures: amd64" }
                 { print }' "$file" >"$scratch/parts/$name" ;;
        *)
            sed -E '/^deb .*-security/ { /\[/! s/^deb /deb [arch=amd64] / }' "$file" \
                >"$scratch/parts/${name%.list}.list" ;;
    esac
done
cat >"$scratch/apt.conf" <<EOF
Dir::Etc::SourceList "/dev/null";
Dir::Etc::SourceParts "$scratch/parts";
Dir::State::Lists "$scratch/lists";
Dir::Cache "$scratch/cache";
EOF
export APT_CONFIG=$scratch/apt.conf
dpkg --add-architecture i386
apt-get update -qq

packages=$(sed -n 's/^native=(\(.*\))$/\1/p' scripts/install-deps.sh)
if [ "$mode" = all ]; then
    packages="$packages $(sed -n '/^everything=(/,/)$/p' scripts/install-deps.sh |
        tr -d '()"' | sed 's/everything=//; s/\${native\[@\]}//' | tr '\n' ' ')"
fi
release=$(. /etc/os-release && echo "$VERSION_CODENAME")
solves() {
    # shellcheck disable=SC2086 # one word per package
    if apt-get install -s -qq --no-install-recommends --allow-downgrades "$@" $packages \
        >/dev/null 2>"$scratch/err"; then
        echo "solved"
    else
        echo "not solved: $(grep -m1 '^E:' "$scratch/err" || echo '?')"
    fi
}
echo "security suite without i386; candidate of zlib1g-dev:" \
    "$(apt-cache policy zlib1g-dev | awk '/Candidate:/ {print $2}')," \
    "of zlib1g:i386: $(apt-cache policy zlib1g:i386 | awk '/Candidate:/ {print $2}')"
echo "plain install:                        $(solves)"
echo "with APT::Default-Release=$release:   $(solves -o "APT::Default-Release=$release")"

echo "install-deps.sh $mode${real:+ (real install)}:"
status=0
if [ "$real" = --real ]; then
    bash scripts/install-deps.sh "$mode" || status=$?
else
    ORVEX_APT_SIMULATE=1 bash scripts/install-deps.sh "$mode" || status=$?
fi
echo "install-deps.sh: exit status $status"
exit "$status"
