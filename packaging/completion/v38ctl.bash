# bash completion for v38ctl: commands, the options each command takes, ports for
# --port, and files.

_v38ctl_ports() {
    # COM names and the devices behind them, as v38ctl numbers them.
    local list=${V38_PORTS:-}
    local devices=() n=1
    if [[ -n $list ]]; then
        IFS=: read -r -a devices <<<"$list"
    else
        local d
        for d in /dev/ttyS* /dev/ttyUSB* /dev/ttyACM* /dev/serial/by-id/*; do
            [[ -e $d ]] && devices+=("$d")
        done
    fi
    for ((n = 1; n <= 16; n++)); do printf 'COM%d\n' "$n"; done
    printf '%s\n' "${devices[@]}"
}

# Files, through bash-completion where it is loaded.
_v38ctl_files() {
    if declare -F _filedir >/dev/null; then
        _filedir
    else
        local IFS=$'\n'
        COMPREPLY=($(compgen -f -- "$cur"))
        compopt -o filenames 2>/dev/null
    fi
}

_v38ctl() {
    local cur prev words cword
    if declare -F _init_completion >/dev/null; then
        _init_completion -n = || return
    else
        words=("${COMP_WORDS[@]}")
        cword=$COMP_CWORD
        cur=${COMP_WORDS[COMP_CWORD]}
        prev=${COMP_WORDS[COMP_CWORD - 1]}
        # Without bash-completion, "=" splits a word: --trace=FILE is three.
        if [[ $cur == "=" ]]; then
            cur="$prev="
        elif [[ $prev == "=" ]]; then
            cur="${COMP_WORDS[COMP_CWORD - 2]}=$cur"
            prev=""
        fi
    fi

    local commands="probe ports read write show export import diff verify textconv"
    local command="" i
    for ((i = 1; i < cword; i++)); do
        case ${words[i]} in
        --trace | --port | -P) ((i++)) ;;
        --) ;;
        -*) ;;
        *) command=${words[i]}; break ;;
        esac
    done

    case $prev in
    --trace)
        _v38ctl_files
        return
        ;;
    --port | -P)
        local IFS=$'\n'
        COMPREPLY=($(compgen -W "$(_v38ctl_ports)" -- "$cur"))
        return
        ;;
    esac
    if [[ $cur == --trace=* || $cur == --port=* ]]; then
        local option=${cur%%=*} value=${cur#*=}
        if [[ $option == --trace ]]; then
            cur=$value
            _v38ctl_files
        else
            local IFS=$'\n'
            COMPREPLY=($(compgen -W "$(_v38ctl_ports)" -- "$value"))
        fi
        return
    fi

    if [[ $cur == -* ]]; then
        local options="--help --version"
        case $command in
        probe | ports) options+=" --trace --port --json --quiet" ;;
        read | write) options+=" --trace --port --quiet" ;;
        verify) options+=" --trace --port --show-cards --json --quiet" ;;
        show) options+=" --show-cards --json" ;;
        diff) options+=" --show-cards --json --quiet" ;;
        textconv) options+=" --show-cards" ;;
        "") options+=" --trace --port --show-cards --json --quiet" ;;
        esac
        COMPREPLY=($(compgen -W "$options" -- "$cur"))
        return
    fi

    if [[ -z $command ]]; then
        COMPREPLY=($(compgen -W "$commands" -- "$cur"))
        return
    fi
    case $command in
    probe | ports) ;;
    *) _v38ctl_files ;;
    esac
}
complete -F _v38ctl v38ctl
