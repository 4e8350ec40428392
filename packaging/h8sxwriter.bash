# bash completion for h8sxwriter: its commands, options, S-record files,
# serial devices and the keys of --sim=KEY=VALUE,...

_h8sxwriter_sim_keys="flash= flash-size= startup-time= banner-delay= erase-time= program-time= sync-zeros= product= silent no-e6 error= garble= no-reply-block= unplug-after="

# Offers the words of $1 that start with $2, minus the part of $2 up to its
# last '=' or ':' (bash splits the current word there).
_h8sxwriter_offer() {
    local word cut="" cur="$2"
    case "$cur" in *[=:]*) cut="${cur%[=:]*}?" ;; esac
    for word in $1; do
        [[ "$word" == "$cur"* ]] && COMPREPLY+=("${word#$cut}")
    done
}

_h8sxwriter_files() {
    local cur="$1" f
    local IFS=$'\n'
    compopt -o filenames 2>/dev/null
    for f in $(compgen -d -- "$cur"); do COMPREPLY+=("$f"); done
    for f in $(compgen -f -- "$cur"); do
        [ -d "$f" ] && continue
        case "${f,,}" in *.mot | *.s | *.hex | *.ihx | *.bin) COMPREPLY+=("$f") ;; esac
    done
}

_h8sxwriter_devices() {
    local cur="$1" f
    local IFS=$'\n'
    compopt -o filenames 2>/dev/null
    if [ -z "$cur" ]; then
        for f in /dev/ttyUSB* /dev/serial/by-id/*; do [ -e "$f" ] && COMPREPLY+=("$f"); done
        [ ${#COMPREPLY[@]} -gt 0 ] && return
    fi
    for f in $(compgen -f -- "$cur"); do COMPREPLY+=("$f"); done
}

_h8sxwriter() {
    COMPREPLY=()
    # Words split at blanks only, so that --sim=KEY=VALUE stays one word.
    local line="${COMP_LINE:0:COMP_POINT}"
    local -a words
    read -r -a words <<<"$line"
    local cur=""
    [[ "$line" == *[^[:space:]] ]] && { cur="${words[-1]}"; unset 'words[-1]'; }
    local prev="${words[-1]}"

    # The command: the first word that is neither an option nor an option's value.
    local command="" i
    for ((i = 1; i < ${#words[@]}; i++)); do
        case "${words[i]}" in
            --port | --pty | --seconds | --eol | --format | --address | --rate | --clock) ((i++)) ;;
            -*) ;;
            *) command="${words[i]}"; break ;;
        esac
    done

    case "$prev" in
        --port) _h8sxwriter_devices "$cur"; return ;;
        --pty) compopt -o filenames 2>/dev/null; COMPREPLY=($(compgen -f -- "$cur")); return ;;
        --seconds | --address | --clock) return ;;
        --eol) _h8sxwriter_offer "cr lf crlf" "$cur"; return ;;
        --format) _h8sxwriter_offer "srec hex bin" "$cur"; return ;;
        --rate) _h8sxwriter_offer "fastest" "$cur"; return ;;
    esac

    case "$cur" in
        --port=*)
            _h8sxwriter_devices "${cur#--port=}"
            return ;;
        --sim=*)
            local done="${cur%,*}," rest="${cur##*,}"
            [[ "$cur" == *,* ]] || { done="--sim="; rest="${cur#--sim=}"; }
            local keys="" k
            for k in $_h8sxwriter_sim_keys; do keys+=" $done$k"; done
            _h8sxwriter_offer "$keys" "$cur"
            [[ ${#COMPREPLY[@]} -eq 1 && "${COMPREPLY[0]}" == *= ]] && compopt -o nospace 2>/dev/null
            return ;;
    esac

    local options
    case "$command" in
        write) options="--verify --verify=read --verify=sum --port --sim --format --address --verbose -v --quiet -q --json --all --rate --clock --skip-blank --help -h" ;;
        erase) options="--port --sim --quiet -q --help -h" ;;
        rates) options="--clock --help -h" ;;
        monitor) options="--reset --seconds --eol --port --sim --help -h" ;;
        reset | list) options="--port --sim --help -h" ;;
        sim) options="--pty --sim= --help -h" ;;
        *) options="--port --sim --help -h --version" ;;
    esac

    if [[ "$cur" == -* ]]; then
        _h8sxwriter_offer "$options" "$cur"
    elif [ -z "$command" ]; then
        _h8sxwriter_offer "write erase monitor reset list rates sim" "$cur"
    elif [ "$command" = write ]; then
        _h8sxwriter_files "$cur"
    fi
}
complete -F _h8sxwriter h8sxwriter
