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

    local commands="c d demo find grep iconv regex replace run sum version"
    if [[ $cword -eq 1 ]]; then
        COMPREPLY=($(compgen -W "$commands --help --version" -- "$cur"))
        return
    fi

    # Per command: the values an option takes (complete and return), the options, and which files to offer.
    local formats="gzip zlib deflate lz4 bzip2 lzo lzss" values="" opts="" files=all
    case ${words[1]} in
        c)
            case $prev in
                -f | --format) values=$formats ;;
                -l | --level) values="1 2 3 4 5 6 7 8 9" ;;
                -T | --threads) return ;;
            esac
            [[ $cur == --format=* ]] && { cur=${cur#--format=}; values=$formats; }
            opts="-f --format= -l --level= -1 -2 -3 -4 -5 -6 -7 -8 -9 --hc --linked --fast -T --threads= -c --stdout
                -k --keep -F --force -h --help"
            ;;
        d)
            case $prev in
                --format) values=$formats ;;
                -T | --threads) return ;;
            esac
            opts="-c --stdout -k --keep -f -F --force -P -T --threads= --format -h --help"
            files=compressed
            ;;
        sum) opts="--adler32 --crc32 --crc32c --bzip2-crc --help" ;;
        iconv)
            [[ $prev == --from || $prev == --to ]] && values="utf-8 utf-16le utf-16be"
            opts="--from --to --help"
            ;;
        grep)
            [[ $prev == -e ]] && return
            opts="-e -F -i -w -x -v -c -n -o -l -L -H -h -q -s -r -R -a -I --color --color=never --color=always
                --color=auto --help"
            ;;
        replace) opts="-g --help" ;;
        regex)
            [[ $prev == --options ]] && return
            opts="--dump --options --help" files=none
            ;;
        run)
            if ((COMP_CWORD == 2)) && [[ $cur == -* ]]; then
                COMPREPLY=($(compgen -W "-- --print --help" -- "$cur"))
            else
                COMPREPLY=($(compgen -c -- "$cur"))
            fi
            return
            ;;
        demo)
            [[ $prev == --data ]] && { COMPREPLY=($(compgen -d -- "$cur")); return; }
            opts="--data --help" files=none
            ;;
        *) return ;;
    esac
    if [[ -n $values ]]; then
        COMPREPLY=($(compgen -W "$values" -- "$cur"))
    elif [[ $cur == -* || $files == none ]]; then
        COMPREPLY=($(compgen -W "$opts" -- "$cur"))
    elif [[ $files == compressed ]]; then
        COMPREPLY=($(compgen -f -X '!*.@(gz|tgz|z|zz|zlib|deflate|lz4|bz2|lzo|lzss)' -- "$cur")
            $(compgen -d -- "$cur"))
    else
        COMPREPLY=($(compgen -f -- "$cur"))
    fi
}
complete -o filenames -F _kel kel
