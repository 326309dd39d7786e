#!/usr/bin/env bash
# Makes sure the cache holds the source of one accepted Debian revision of xz-utils 5.4.1 (listed
# with its SHA-256 sums in cmake/xz-utils.sha256) and prints that revision and its folder:
#   fetch-xz-source.sh   ->   "5.4.1-1+deb12u2 /root/.cache/quill/xz-utils"
# The cache lives outside build/ (QUILL_CACHE, default ~/.cache/quill), so a fresh clone on the
# same machine builds without fetching again. A revision is tried in the list's order: first
# from the cache, then with apt-get source; every file must match its sum.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
sums_file="$here/../cmake/xz-utils.sha256"
cache="${QUILL_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/quill}/xz-utils"
mkdir -p "$cache"

# Two builds may configure at once; one fetch at a time.
exec 9>"$cache/.lock"
flock -w 600 9 || { echo "fetch-xz-source: $cache is locked by another build" >&2; exit 1; }

revisions=()
declare -A sums
current=
while read -r first second; do
  case "$first" in
    ''|'#'*) ;;
    revision) current=$second; revisions+=("$current") ;;
    *) sums[$current]+="$first  $second"$'\n' ;;
  esac
done <"$sums_file"

verified() {  # verified REVISION DIR
  (cd "$2" && printf '%s' "${sums[$1]}" | sha256sum --quiet --strict -c - >/dev/null 2>&1)
}

for revision in "${revisions[@]}"; do
  if verified "$revision" "$cache"; then echo "$revision $cache"; exit 0; fi
done
tried=()
for revision in "${revisions[@]}"; do
  download=$(mktemp -d "$cache/download.XXXXXX")
  chmod 755 "$download"  # apt downloads as its own unprivileged user where it can
  if (cd "$download" && apt-get source --download-only "xz-utils=$revision" >apt.log 2>&1) &&
     verified "$revision" "$download"; then
    for f in $(printf '%s' "${sums[$revision]}" | awk '{print $2}'); do mv -f "$download/$f" "$cache/"; done
    rm -rf "$download"
    echo "$revision $cache"
    exit 0
  fi
  if [ -f "$download/apt.log" ] && grep -q . "$download/apt.log"; then
    tried+=("$revision: $(grep -E '^E:' "$download/apt.log" | head -n 1 || true)")
  fi
  [ -n "$(ls "$download"/xz-utils_* 2>/dev/null)" ] && ! verified "$revision" "$download" &&
    tried+=("$revision: downloaded, but its files do not match the sums in cmake/xz-utils.sha256")
  rm -rf "$download"
done

{
  echo "fetch-xz-source: none of the accepted xz-utils revisions (${revisions[*]}) is in the cache"
  echo "($cache) or can be fetched with apt-get source:"
  printf '  %s\n' "${tried[@]}"
  echo "What to do: enable deb-src entries for bookworm and bookworm-security and run apt-get update"
  echo "(scripts/install-deps.sh does both). If Debian has since published a newer revision of"
  echo "xz-utils 5.4.1, review it and add it with its SHA-256 sums to cmake/xz-utils.sha256; or copy"
  echo "the source files of a listed revision into $cache."
} >&2
exit 1
