# bash completion for lanternfish-cli
#
# %group and @site names come from the program itself, which asks the server: bounded in time so
# a slow or absent server never hangs the prompt.

_lanternfish_cli_names() {
    local cur=$1
    command -v timeout >/dev/null || return
    local name quoted
    # Quoted as the shell reads them back: group names may hold spaces.
    timeout 3 "${COMP_WORDS[0]}" complete-names 2>/dev/null | while IFS= read -r name; do
        printf -v quoted '%q' "$name"
        [[ ${quoted,,} == "${cur,,}"* ]] && printf '%s\n' "$quoted"
    done
}

_lanternfish_cli() {
    local cur=${COMP_WORDS[COMP_CWORD]}
    local prev=${COMP_WORDS[COMP_CWORD - 1]}
    local commands="use-server signin signup signout whoami share resume status cancel contacts groups
        complete config help"

    if ((COMP_CWORD == 1)); then
        mapfile -t COMPREPLY < <(compgen -W "$commands --help --version" -- "$cur")
        return
    fi

    local command=${COMP_WORDS[1]} options=""
    case $command in
    signin) options="--password-stdin" ;;
    signup) options="--accept-terms --password-stdin" ;;
    share)
        if [[ $prev == --message ]]; then
            return
        fi
        if [[ $prev == --to || $cur == [%@]* ]]; then
            local IFS=$'\n'
            mapfile -t COMPREPLY < <(_lanternfish_cli_names "$cur")
            return
        fi
        options="--to --message"
        ;;
    status) options="--json" ;;
    contacts)
        ((COMP_CWORD == 2)) && options="add delete"
        options+=" --json"
        ;;
    groups)
        ((COMP_CWORD == 2)) && options="create delete"
        options+=" --json"
        ;;
    complete) options="--json" ;;
    help)
        ((COMP_CWORD == 2)) && mapfile -t COMPREPLY < <(compgen -W "$commands" -- "$cur")
        return
        ;;
    esac

    if [[ $cur == -* || $command != share ]]; then
        mapfile -t COMPREPLY < <(compgen -W "$options --help" -- "$cur")
        return
    fi
    # The photos to share.
    mapfile -t COMPREPLY < <(compgen -f -- "$cur")
    compopt -o filenames 2>/dev/null
}

complete -F _lanternfish_cli lanternfish-cli
