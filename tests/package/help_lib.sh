# Reading the tools' --help, shared by the package tests (sourced).

# help_subcommands TOOL [WORDS...]: "name<TAB>description" for each subcommand
# listed by `TOOL WORDS... --help`, continuation lines joined.
help_subcommands() {
    "$@" --help | awk '
        /^Subcommands:/ { inside = 1; next }
        inside && /^$/ { inside = 0 }
        !inside { next }
        /^  [^ ]/ {
            if (name != "") print name "\t" desc
            name = $1; desc = substr($0, 31); sub(/^ +/, "", desc); next
        }
        /^ +[^ ]/ { line = $0; sub(/^ +/, "", line); desc = desc " " line }
        END { if (name != "") print name "\t" desc }'
}

# help_long_options TOOL [WORDS...]: the long options of one command.
help_long_options() {
    "$@" --help | awk '
        /^Options:/ { inside = 1; next }
        inside && /^$/ { inside = 0 }
        inside && /^  -/ {
            n = split($1, names, ",")
            for (i = 1; i <= n; i++) if (names[i] ~ /^--/) print names[i]
        }'
}

# help_command_paths TOOL: every command path ("domain", "domain create", ...)
# with its description, walking subcommands of subcommands.
help_command_paths() {
    local tool=$1 name desc sub subdesc
    while IFS=$'\t' read -r name desc; do
        printf '%s\t%s\n' "$name" "$desc"
        while IFS=$'\t' read -r sub subdesc; do
            printf '%s %s\t%s\n' "$name" "$sub" "$subdesc"
        done < <(help_subcommands "$tool" "$name")
    done < <(help_subcommands "$tool")
}

squeeze() { tr -s ' \t\n' '   ' | sed 's/^ //; s/ $//'; }
