# Compares the ratios of two benchmark runs (the tables bench/Bench.java writes) and prints a
# section saying how far they agree:
#   awk -v limit=10 -f bench/agreement.awk first-table.md second-table.md
# Every ratio is compared: the targets' measured figures and the "vs partner" column of every
# scenario. Difference = |a - b| / min(a, b).

function trim(s) { gsub(/^[ \t]+|[ \t]+$/, "", s); return s }
function num(s) { s = trim(s); gsub(/[×*µs ]/, "", s); return s + 0 }

# What a ratio is taken against, from its scenario's name.
function kindOf(key,    k) {
    if (key in targetKey) return "target"
    split(key, k, SUBSEP)
    if (k[2] ~ /\.vs-/) return "bridge"
    if (k[2] ~ /hosted/) return "hosted"
    if (k[2] ~ /^anchor\./) return "anchor"
    return "ffm"
}

BEGIN {
    kindName["target"] = "the targets"
    kindName["bridge"] = "scenarios paired with another call of the bridge (`vs-ascii`, `vs-checkout`)"
    kindName["ffm"] = "in-process scenarios paired with the direct FFM call"
    kindName["hosted"] = "hosted scenarios (wall clock) against the direct FFM call"
    kindName["anchor"] = "anchors against the direct FFM call"
}

FNR == 1 { run++ }
/^## Targets, locale / { section = "target"; locale = substr($0, 20); next }
/^## Every figure, locale / { section = "figure"; locale = substr($0, 25); next }
/^## / { section = ""; next }
section != "" && /^\| / && !/^\|---/ {
    n = split($0, f, "|")
    if (section == "target") {
        if (trim(f[2]) == "target") next
        name = trim(f[2])
        gsub(/ \([0-9.]+ ns vs [0-9.]+ ns\)/, "", name)
        key = locale SUBSEP name
        targetKey[key] = 1
        value = num(f[4])
        unit = (f[4] ~ /µs/) ? " µs" : "×"
    } else {
        if (trim(f[2]) == "scenario" || trim(f[6]) == "") next
        name = trim(f[2]) " " trim(f[3]) " n=" trim(f[4])
        key = locale SUBSEP name
        value = num(f[6])
        unit = "×"
    }
    if (value <= 0) next
    if (run == 1) { if (!(key in first)) { order[++count] = key; first[key] = value; units[key] = unit } }
    else if (!(key in second)) second[key] = value
}

END {
    compared = 0; within = 0; worst = 0; worstKey = ""
    for (i = 1; i <= count; i++) {
        key = order[i]
        if (!(key in second)) continue
        a = first[key]; b = second[key]
        d = (a > b ? a - b : b - a) / (a < b ? a : b) * 100
        diff[key] = d
        compared++
        if (d <= limit) within++
        kind = kindOf(key)
        kindCount[kind]++
        if (d <= limit) kindWithin[kind]++
        if (d > worst) { worst = d; worstKey = key }
    }
    print "## Two runs"
    print ""
    printf "The same command run twice in a row; every ratio of the first run beside the second. "
    printf "%d of %d ratios agree within %d%%", within, compared, limit
    if (compared > 0) {
        split(worstKey, w, SUBSEP)
        printf " (the furthest apart: %s, %s, %.1f%%)", w[2], w[1], worst
    }
    print "."
    print ""
    print "By what a ratio is taken against:"
    print ""
    split("target|bridge|ffm|hosted|anchor", kinds, "|")
    for (i = 1; i <= 5; i++)
        if (kindCount[kinds[i]] > 0)
            printf "- %s: %d of %d within %d%%\n", kindName[kinds[i]], kindWithin[kinds[i]] + 0, kindCount[kinds[i]], limit
    print ""
    print "| locale | ratio | first run | second run | difference |"
    print "|---|---|---:|---:|---:|"
    for (i = 1; i <= count; i++) {
        key = order[i]
        if (!(key in diff)) continue
        split(key, k, SUBSEP)
        if (!(key in targetKey) && diff[key] <= limit) continue
        mark = diff[key] > limit ? "**" : ""
        printf "| %s | %s | %.2f%s | %.2f%s | %s%.1f%%%s |\n", k[1], k[2], first[key], units[key], second[key], units[key], mark, diff[key], mark
    }
    print ""
    print "Rows shown: every target, and every other ratio whose runs differ by more than " limit "%."
    print ""
}
