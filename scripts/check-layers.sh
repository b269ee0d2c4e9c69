#!/usr/bin/env bash
# Checks that the #include lines of src/ keep to the layer order that
# src/CMakeLists.txt defines, and prints the folder graph they make.
#
# The order is read from src/CMakeLists.txt itself: the tavlevagt_layer()
# calls from the bottom layer up, TAVLEVAGT_ADAPTER_BASE (the highest layer an
# adapter below src/platform/ may use), TAVLEVAGT_ADAPTER_SHARED (adapter
# folders other adapters may use) and TAVLEVAGT_WIRING (the folders and files
# that see the product and the adapters both). The rules:
#   - a product folder includes its own headers and those of lower layers only,
#     never another folder of its own layer, a higher layer or an adapter;
#   - an adapter includes itself, the layers up to its base and the shared
#     adapter folders, never the product above that nor another adapter;
#   - the wiring may include anything.
# Any include against these rules, any folder outside the order and any cycle
# in the folder graph fails the check (exit 1).
#
# Plain bash and POSIX awk, so it runs before anything is installed.
set -euo pipefail
cd "$(dirname "$0")/.."

src=src
cmake_file=$src/CMakeLists.txt

# One line per include: "<including folder> <included folder> <file>".
edges=$(
  find "$src" -type f \( -name '*.h' -o -name '*.cpp' \) | LC_ALL=C sort | while read -r file; do
    rel=${file#"$src"/}
    case $rel in
      platform/*/*) from=$(printf '%s' "$rel" | cut -d/ -f1-2) ;;
      */*) from=${rel%%/*} ;;
      *) from=$rel ;;  # a file directly in src/ (main.cpp)
    esac
    awk -v from="$from" -v file="$rel" '
      /^[ \t]*#[ \t]*include[ \t]*"/ {
        line = $0
        sub(/^[^"]*"/, "", line)
        sub(/".*$/, "", line)
        n = split(line, part, "/")
        if (n < 2) to = from
        else if (part[1] == "platform" && n >= 3) to = part[1] "/" part[2]
        else to = part[1]
        print from, to, file
      }' "$file"
  done
)

awk -v cmake_file="$cmake_file" -v edges_text="$edges" '
function fail(msg) { problems[++nproblems] = msg }
function kind(f) {
  if (f in rank) return "product"
  if (f in wiring) return "wiring"
  if (f ~ /^platform\//) return "adapter"
  return "unknown"
}
function visit(f,    i, j, t, path) {
  state[f] = 1
  stack[++depth] = f
  for (i = 1; i <= outdeg[f]; i++) {
    t = out[f, i]
    if (state[t] == 1) {
      path = t
      for (j = depth; j >= 1 && stack[j] != t; j--) path = stack[j] " -> " path
      fail("cycle: " t " -> " path)
    } else if (state[t] == 0) {
      visit(t)
    }
  }
  depth--
  state[f] = 2
}
BEGIN {
  # The layer order, bottom first, from the build.
  nlayers = 0
  while ((getline line < cmake_file) > 0) {
    if (line ~ /^[ \t]*tavlevagt_layer\(/) {
      sub(/^[ \t]*tavlevagt_layer\(/, "", line)
      sub(/\).*$/, "", line)
      n = split(line, word, /[ \t]+/)
      layer[++nlayers] = word[1]
      layerRank[word[1]] = nlayers
      folders[nlayers] = ""
      for (i = 2; i <= n; i++) {
        rank[word[i]] = nlayers
        folders[nlayers] = folders[nlayers] (i > 2 ? " " : "") word[i]
      }
    } else if (line ~ /^[ \t]*set\(TAVLEVAGT_ADAPTER_BASE[ \t]/) {
      sub(/^[ \t]*set\(TAVLEVAGT_ADAPTER_BASE[ \t]+/, "", line)
      sub(/[ \t]*\).*$/, "", line)
      adapterBase = line
    } else if (line ~ /^[ \t]*set\(TAVLEVAGT_ADAPTER_SHARED[ \t]/) {
      sub(/^[ \t]*set\(TAVLEVAGT_ADAPTER_SHARED[ \t]+/, "", line)
      sub(/[ \t]*\).*$/, "", line)
      n = split(line, word, /[ \t]+/)
      for (i = 1; i <= n; i++) shared[word[i]] = 1
    } else if (line ~ /^[ \t]*set\(TAVLEVAGT_WIRING[ \t]/) {
      sub(/^[ \t]*set\(TAVLEVAGT_WIRING[ \t]+/, "", line)
      sub(/[ \t]*\).*$/, "", line)
      n = split(line, word, /[ \t]+/)
      for (i = 1; i <= n; i++) wiring[word[i]] = 1
    }
  }
  if (nlayers == 0) { print "check-layers: no tavlevagt_layer() in " cmake_file; exit 2 }
  if (!(adapterBase in layerRank)) {
    print "check-layers: TAVLEVAGT_ADAPTER_BASE names no layer in " cmake_file; exit 2
  }
  baseRank = layerRank[adapterBase]

  nedges = split(edges_text, lines, "\n")
  for (e = 1; e <= nedges; e++) {
    if (lines[e] == "") continue
    split(lines[e], w, " ")
    from = w[1]; to = w[2]; file = w[3]
    seen[from] = 1
    if (from == to) continue
    seen[to] = 1
    if (!((from, to) in edge)) {
      edge[from, to] = 1
      out[from, ++outdeg[from]] = to
    }
    kf = kind(from); kt = kind(to)
    if (kf == "unknown") { fail(file ": folder " from " is in no layer"); continue }
    if (kt == "unknown") { fail(file ": includes " to ", which is in no layer"); continue }
    if (kf == "wiring") continue
    if (kf == "product") {
      if (kt != "product") fail(file ": " from " (" layer[rank[from]] ") includes the " kt " " to)
      else if (rank[to] == rank[from]) fail(file ": " from " includes " to " of its own layer (" layer[rank[from]] ")")
      else if (rank[to] > rank[from]) fail(file ": " from " (" layer[rank[from]] ") includes " to " of the higher layer " layer[rank[to]])
      continue
    }
    # An adapter.
    if (kt == "adapter" && (to in shared) && !(from in shared)) continue
    if (kt != "product") fail(file ": adapter " from " includes the " kt " " to)
    else if (rank[to] > baseRank) fail(file ": adapter " from " includes " to " (" layer[rank[to]] "), above " adapterBase)
  }

  # The graph, from the top down: wiring, the layers, the adapters.
  print "Folder graph of src/ (each folder: the folders its #include lines name)"
  for (f in seen) if (kind(f) == "wiring") list("wiring", f)
  printGroup("wiring")
  for (l = nlayers; l >= 1; l--) {
    print "  layer " layer[l] ":"
    nf = split(folders[l], fl, " ")
    for (i = 1; i <= nf; i++) printFolder(fl[i])
  }
  for (f in seen) if (kind(f) == "adapter") list("adapter", f)
  printGroup("adapter")
  for (f in seen) if (kind(f) == "unknown") list("unknown", f)
  printGroup("unknown")

  for (f in seen) state[f] = 0
  depth = 0
  for (f in seen) if (state[f] == 0) visit(f)

  if (nproblems > 0) {
    print ""
    print "Includes against the layer order (src/CMakeLists.txt):"
    for (i = 1; i <= nproblems; i++) print "  " problems[i]
    exit 1
  }
  print ""
  print "Layer order kept: " nedges - 0 " include lines checked, no cycle."
}
function list(group, f) { members[group] = members[group] " " f }
function printGroup(group,    n, arr, i, j, tmp) {
  if (members[group] == "") return
  n = split(substr(members[group], 2), arr, " ")
  for (i = 2; i <= n; i++) for (j = i; j > 1 && arr[j-1] > arr[j]; j--) { tmp = arr[j]; arr[j] = arr[j-1]; arr[j-1] = tmp }
  print "  " group (group == "adapter" ? "s (on " adapterBase " and below)" : "") ":"
  for (i = 1; i <= n; i++) printFolder(arr[i])
}
function printFolder(f,    n, arr, i, j, tmp, text) {
  n = 0
  for (i = 1; i <= outdeg[f]; i++) arr[++n] = out[f, i]
  for (i = 2; i <= n; i++) for (j = i; j > 1 && arr[j-1] > arr[j]; j--) { tmp = arr[j]; arr[j] = arr[j-1]; arr[j-1] = tmp }
  text = ""
  for (i = 1; i <= n; i++) text = text (i > 1 ? " " : "") arr[i]
  printf "    %-16s -> %s\n", f, (n ? text : "(nothing)")
}
'
