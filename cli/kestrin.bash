# bash completion for kestrin: commands, each command's own options (those
# `kestrin help COMMAND` lists, and no others), methods, files and folders.
_kestrin()
{
    local cur prev words cword split
    _init_completion -s || return

    if [[ $cword -eq 1 ]]; then
        COMPREPLY=($(compgen -W "encrypt decrypt verify info help --help --version" -- "$cur"))
        return
    fi
    local command=${words[1]}
    if [[ $command == help ]]; then
        [[ $cword -eq 2 ]] && COMPREPLY=($(compgen -W "encrypt decrypt verify info" -- "$cur"))
        return
    fi

    case $prev in
        -m | --method)
            local methods="aes sapphire des des-cbc blowfish"
            [[ $command != encrypt ]] && methods+=" auto"
            COMPREPLY=($(compgen -W "$methods" -- "$cur"))
            return
            ;;
        -o | --output)
            _filedir
            COMPREPLY+=($(compgen -W "-" -- "$cur"))
            return
            ;;
        -O | --output-dir)
            _filedir -d
            return
            ;;
        --password-file)
            _filedir
            return
            ;;
        --password-env)
            COMPREPLY=($(compgen -e -- "$cur"))
            return
            ;;
        --password-fd | --name | --codepage | --threads)
            return
            ;;
    esac
    $split && return

    if [[ $cur == -* ]]; then
        local options="--method --recursive --quiet --password-file --password-stdin --password-env --password-fd
                       --codepage --threads --help --version"
        case $command in
            encrypt) options+=" --output --output-dir --name --force --verbose" ;;
            decrypt) options+=" --output --output-dir --force --verbose" ;;
            verify) options+=" --verbose" ;;
            info) ;;
            *) options="" ;;
        esac
        COMPREPLY=($(compgen -W "$options" -- "$cur"))
        [[ ${COMPREPLY-} == *= ]] && compopt -o nospace
        return
    fi
    if [[ $command == encrypt ]]; then
        _filedir
        return
    fi
    # Containers first, by the names encrypt gives them (report._xt); a
    # container can have any name, so with none of those every file is offered.
    _filedir '_*'
    local entry
    for entry in "${COMPREPLY[@]}"; do
        [[ -d $entry ]] || return
    done
    COMPREPLY=()
    _filedir
}
complete -F _kestrin kestrin
