# bash completion for vexdram: commands, options, keys (from `vexdram keys`) and chip names (from
# `vexdram chips`), files elsewhere. Installed as share/bash-completion/completions/vexdram.
_vexdram() {
    local cur=${COMP_WORDS[COMP_CWORD]} prev=${COMP_WORDS[COMP_CWORD-1]}
    local commands="show get set apply diff template keys chips" cmd="" positional=0 i
    for ((i = 1; i < COMP_CWORD; i++)); do
        case ${COMP_WORDS[i]} in
            --chip|-o|--out|--out-dir|--wait) ((i++)) ;;
            -*) ;;
            *) if [[ -z $cmd ]]; then cmd=${COMP_WORDS[i]}; else ((positional++)); fi ;;
        esac
    done
    if [[ -z $cmd ]]; then
        COMPREPLY=($(compgen -W "$commands --help --version" -- "$cur"))
        return
    fi
    local IFS=$'\n'  # file names may hold spaces
    case $prev in
        --chip) COMPREPLY=($(compgen -W "$(vexdram chips 2>/dev/null)" -- "$cur")); return ;;
        -o|--out) COMPREPLY=($(compgen -f -- "$cur")); return ;;
        --out-dir) COMPREPLY=($(compgen -d -- "$cur")); return ;;
        --wait) COMPREPLY=(); return ;;
    esac
    if [[ $cur == -* ]]; then
        local IFS=$' \t\n' options="--help --chip"
        case $cmd in
            show|get|diff|keys) options+=" --json" ;;
            set) options+=" -o --out --in-place --force --wait --dry-run" ;;
            apply) options+=" -o --out --out-dir --in-place --force --wait --dry-run" ;;
        esac
        COMPREPLY=($(compgen -W "$options" -- "$cur"))
        return
    fi
    # Keys after the file of get and set (set completes KEY=, no space after it).
    if [[ $positional -ge 1 && ( $cmd == get || $cmd == set ) ]]; then
        local key suffix=""
        [[ $cmd == set ]] && suffix="=" && compopt -o nospace 2>/dev/null
        COMPREPLY=()
        # Keys may hold a space ("uart id"): each stays one word, quoted.
        while IFS= read -r key; do
            [[ $key$suffix == "$cur"* ]] && COMPREPLY+=("$(printf '%q' "$key$suffix")")
        done < <(vexdram keys 2>/dev/null | cut -f1)
        return
    fi
    case $cmd in
        template|keys|chips) COMPREPLY=() ;;
        *) COMPREPLY=($(compgen -f -- "$cur")) ;;
    esac
}
complete -o filenames -F _vexdram vexdram
