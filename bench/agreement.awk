# Compares the ratios of two benchmark runs (the tables bench/Bench.java writes) and prints a
# section saying how far they agree:
#   awk -v limit=10 -f bench/agreement.awk first-table.md second-table.md
# Every ratio is compared: the targets' measured figures and the "vs partner" column of every
# scenario. Difference = |a - b| / min(a, b).

function trim(s) { gsub(/^[ \t]+|[ \t]+$/, "", s); return s }
function num(s) { s = trim(s); gsub(/[×*µs ]/, "", s); return s + 0 }

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
    print "| locale | ratio | first run | second run | difference |"
    print "|---|---|---:|---:|---:|"
    for (i = 1; i <= count; i++) {
        key = order[i]
        if (!(key in diff)) continue
        split(key, k, SUBSEP)
        isTarget = (k[2] !~ / n=[0-9]+$/)
        if (!isTarget && diff[key] <= limit) continue
        mark = diff[key] > limit ? "**" : ""
        printf "| %s | %s | %.2f%s | %.2f%s | %s%.1f%%%s |\n", k[1], k[2], first[key], units[key], second[key], units[key], mark, diff[key], mark
    }
    print ""
    print "Rows shown: every target, and every other ratio whose runs differ by more than " limit "%."
    print ""
}
