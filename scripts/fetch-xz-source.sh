#!/usr/bin/env bash
# Makes sure the cache holds the source of an accepted Debian revision of xz-utils (listed with its
# advisories and SHA-256 sums in cmake/xz-utils.sha256) and prints that revision and its folder:
#   fetch-xz-source.sh   ->   "5.8.1-1+deb13u1 /root/.cache/quill/xz-utils"
# Revisions are tried in the list's order, each first from the cache, then with apt-get source;
# every file must match its sum. A revision that lacks a fix which one above it has is refused
# with a message, unless QUILL_XZ_ACCEPT names it; any revision but the first is reported.
#
# The source indexes come through an apt configuration of their own that holds only the deb-src
# lines of the list ("source ..."), kept in the cache beside the files: a binary index that the
# mirror serves broken, of any architecture, cannot make apt drop a suite's source index with it,
# since none is fetched. Settings (all optional):
#   QUILL_CACHE           the cache, outside build/ (default ~/.cache/quill)
#   QUILL_XZ_SUMS         the list of accepted revisions (default cmake/xz-utils.sha256)
#   QUILL_XZ_APT_SOURCES  deb-src lines to fetch from instead of the list's
#   QUILL_XZ_ACCEPT       a revision to take even though it lacks a fix of a newer listed one
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
sums_file=${QUILL_XZ_SUMS:-$here/../cmake/xz-utils.sha256}
cache="${QUILL_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/quill}/xz-utils"
mkdir -p "$cache"

# Two builds may configure at once; one fetch at a time.
exec 9>"$cache/.lock"
flock -w 600 9 || { echo "fetch-xz-source: $cache is locked by another build" >&2; exit 1; }

revisions=()
declare -A sums fixes
current= listed_sources=
while read -r first rest; do
  case "$first" in
    ''|'#'*) ;;
    source) listed_sources+="$rest"$'\n' ;;
    revision) current=$rest; revisions+=("$current"); fixes[$current]= ;;
    fixes) fixes[$current]=$rest ;;
    *) sums[$current]+="$first  $rest"$'\n' ;;
  esac
done <"$sums_file"
((${#revisions[@]})) || { echo "fetch-xz-source: $sums_file lists no revision" >&2; exit 1; }

verified() {  # verified REVISION DIR
  (cd "$2" && printf '%s' "${sums[$1]}" | sha256sum --quiet --strict -c - >/dev/null 2>&1)
}

# apt with nothing of the system's package configuration but its programs and keyring; one
# configuration per set of sources, so that fetches from different suites keep their indexes.
apt_sources=${QUILL_XZ_APT_SOURCES:-$listed_sources}
apt_dir=$cache/apt-$(printf '%s' "$apt_sources" | sha256sum | cut -c1-12)
apt_options=(-o "Dir::Etc::SourceList=$apt_dir/sources.list" -o "Dir::Etc::SourceParts=$apt_dir/none"
             -o "Dir::State::Lists=$apt_dir/lists" -o "Dir::Cache=$apt_dir/cache"
             -o "Dir::Etc::Preferences=$apt_dir/none" -o "Dir::Etc::PreferencesParts=$apt_dir/none"
             -o Debug::NoLocking=1 -o "APT::Sandbox::User=$(id -un)" -o Acquire::Retries=3)
apt_ready=0
apt_update() {
  ((apt_ready)) && return 0
  apt_ready=1
  mkdir -p "$apt_dir/lists/partial" "$apt_dir/cache/archives/partial" "$apt_dir/none"
  printf '%s\n' "$apt_sources" >"$apt_dir/sources.list"
  local try
  for try in 1 2 3; do
    # A suite caught mid-sync fails alone; the others' indexes are kept, and a later try mends it.
    apt-get "${apt_options[@]}" update >"$apt_dir/update.log" 2>&1 && return 0
    [ "$try" -lt 3 ] && sleep $((try * 10))
  done
  return 0
}

failures=()
fetch() {  # fetch REVISION: into the cache, verified
  apt_update
  local download
  download=$(mktemp -d "$cache/download.XXXXXX")
  if (cd "$download" && apt-get "${apt_options[@]}" source --download-only "xz-utils=$1" >apt.log 2>&1) &&
     verified "$1" "$download"; then
    local f
    for f in $(printf '%s' "${sums[$1]}" | awk '{print $2}'); do mv -f "$download/$f" "$cache/"; done
    rm -rf "$download"
    return 0
  fi
  if ls "$download"/xz-utils_* >/dev/null 2>&1 && ! verified "$1" "$download"; then
    failures+=("$1: downloaded, but its files do not match the sums in $sums_file")
  else
    local why
    why=$(grep -E '^E:' "$download/apt.log" "$apt_dir/update.log" 2>/dev/null | cut -d: -f2- | head -n 2 |
          paste -sd ';' -)
    failures+=("$1: ${why:-apt-get source found no such revision}")
  fi
  rm -rf "$download"
  return 1
}

chosen=
for revision in "${revisions[@]}"; do
  if verified "$revision" "$cache" || fetch "$revision"; then chosen=$revision; break; fi
done

if [ -z "$chosen" ]; then
  {
    echo "fetch-xz-source: none of the accepted xz-utils revisions (${revisions[*]}) is in the cache"
    echo "($cache) or can be fetched with apt-get source:"
    printf '  %s\n' "${failures[@]}"
    echo "What to do: if the mirror is mid-sync, run the build again in a few minutes. If Debian has"
    echo "replaced these revisions, review the new one and add it with its advisories and SHA-256"
    echo "sums to cmake/xz-utils.sha256; or copy the source files of a listed revision into $cache."
  } >&2
  exit 1
fi

if [ "$chosen" != "${revisions[0]}" ]; then
  # What a newer listed revision fixes and the chosen one does not.
  declare -A has=()
  for advisory in ${fixes[$chosen]}; do has[$advisory]=1; done
  missing=() newer=()
  for revision in "${revisions[@]}"; do
    [ "$revision" = "$chosen" ] && break
    newer+=("$revision")
    for advisory in ${fixes[$revision]}; do
      if [ -z "${has[$advisory]:-}" ]; then missing+=("$advisory"); has[$advisory]=1; fi
    done
  done
  if ((${#missing[@]})) && [ "${QUILL_XZ_ACCEPT:-}" != "$chosen" ]; then
    {
      echo "fetch-xz-source: refusing xz-utils $chosen: it lacks the fix for ${missing[*]}, which"
      echo "the pinned revision ${revisions[0]} has, and ${newer[*]} could not be had:"
      printf '  %s\n' "${failures[@]}"
      echo "What to do: run the build again once the mirror serves ${revisions[0]} (a mirror mid-sync"
      echo "mends itself within hours), or copy its source files into $cache. To build with"
      echo "$chosen all the same, knowing what it lacks: QUILL_XZ_ACCEPT=$chosen make ..."
    } >&2
    exit 1
  fi
  {
    echo "fetch-xz-source: using xz-utils $chosen, not the pinned ${revisions[0]}:"
    printf '  %s\n' "${failures[@]}"
    if ((${#missing[@]})); then
      echo "  accepted by QUILL_XZ_ACCEPT although it lacks the fix for ${missing[*]}"
    fi
  } >&2
fi
echo "$chosen $cache"
