# tools/completion/kel.bash - bash completion for the kel tool (installed as
# share/bash-completion/completions/kel).

_kel() {
    local cur prev words cword
    if declare -F _init_completion >/dev/null; then
        _init_completion || return
    else
        COMPREPLY=()
        cur=${COMP_WORDS[COMP_CWORD]}
        prev=${COMP_WORDS[COMP_CWORD-1]}
        words=("${COMP_WORDS[@]}")
        cword=$COMP_CWORD
    fi

    local commands="c d demo find grep iconv regex replace sum version"
    if [[ $cword -eq 1 ]]; then
        COMPREPLY=($(compgen -W "$commands --help --version" -- "$cur"))
        return
    fi

    local formats="gzip zlib deflate lz4 bzip2 lzo lzss"
    case ${words[1]} in
        c)
            case $prev in
                -f | --format) COMPREPLY=($(compgen -W "$formats" -- "$cur")); return ;;
                -l | --level) COMPREPLY=($(compgen -W "1 2 3 4 5 6 7 8 9" -- "$cur")); return ;;
                -T | --threads) return ;;
            esac
            if [[ $cur == --format=* ]]; then
                COMPREPLY=($(compgen -W "$formats" -- "${cur#--format=}"))
                return
            fi
            if [[ $cur == -* ]]; then
                COMPREPLY=($(compgen -W "-f --format= -l --level= -1 -2 -3 -4 -5 -6 -7 -8 -9 --hc --linked
                    --fast -T --threads= -c --stdout -k --keep -F --force -h --help" -- "$cur"))
                return
            fi
            ;;
        d)
            case $prev in
                --format) COMPREPLY=($(compgen -W "$formats" -- "$cur")); return ;;
                -T | --threads) return ;;
            esac
            if [[ $cur == -* ]]; then
                COMPREPLY=($(compgen -W "-c --stdout -k --keep -f -F --force -P -T --threads= --format -h
                    --help" -- "$cur"))
                return
            fi
            COMPREPLY=($(compgen -f -X '!*.@(gz|tgz|z|zz|zlib|deflate|lz4|bz2|lzo|lzss)' -- "$cur")
                $(compgen -d -- "$cur"))
            return
            ;;
        sum)
            if [[ $cur == -* ]]; then
                COMPREPLY=($(compgen -W "--adler32 --crc32 --crc32c --bzip2-crc --help" -- "$cur"))
                return
            fi
            ;;
        iconv)
            case $prev in
                --from | --to) COMPREPLY=($(compgen -W "utf-8 utf-16le utf-16be" -- "$cur")); return ;;
            esac
            if [[ $cur == -* ]]; then
                COMPREPLY=($(compgen -W "--from --to --help" -- "$cur"))
                return
            fi
            ;;
        grep)
            case $prev in
                -e) return ;;
            esac
            if [[ $cur == -* ]]; then
                COMPREPLY=($(compgen -W "-e -F -i -w -x -v -c -n -o -l -L -H -h -q -s -r -R -a -I --color
                    --color=never --color=always --color=auto --help" -- "$cur"))
                return
            fi
            ;;
        replace)
            if [[ $cur == -* ]]; then
                COMPREPLY=($(compgen -W "-g --help" -- "$cur"))
                return
            fi
            ;;
        regex)
            case $prev in
                --options) return ;;
            esac
            if [[ $cur == -* ]]; then
                COMPREPLY=($(compgen -W "--dump --options --help" -- "$cur"))
            fi
            return
            ;;
        demo)
            case $prev in
                --data) COMPREPLY=($(compgen -d -- "$cur")); return ;;
            esac
            COMPREPLY=($(compgen -W "--data --help" -- "$cur"))
            return
            ;;
        version)
            return
            ;;
    esac
    COMPREPLY=($(compgen -f -- "$cur"))
}
complete -o filenames -F _kel kel
