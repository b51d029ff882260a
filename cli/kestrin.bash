# bash completion for kestrin: commands, options, methods, files and folders.
_kestrin()
{
    local cur prev words cword
    _init_completion -s || return

    local commands="encrypt decrypt verify info help"
    if [[ $cword -eq 1 ]]; then
        COMPREPLY=($(compgen -W "$commands --help --version" -- "$cur"))
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
        -o | --output-dir)
            _filedir -d
            return
            ;;
        --password-file)
            _filedir
            return
            ;;
        --password-env)
            COMPREPLY=($(compgen -v -- "$cur"))
            return
            ;;
        --password-fd | --name | --codepage | --threads)
            return
            ;;
    esac
    $split && return

    if [[ $cur == -* ]]; then
        local options="--method --password-file --password-stdin --password-env --password-fd --codepage --threads --quiet --help"
        case $command in
            encrypt) options+=" --output-dir --recursive --name" ;;
            decrypt) options+=" --output-dir --recursive" ;;
            verify) options+=" --recursive" ;;
        esac
        COMPREPLY=($(compgen -W "$options" -- "$cur"))
        [[ ${COMPREPLY-} == *= ]] && compopt -o nospace
        return
    fi
    _filedir
}
complete -F _kestrin kestrin
