#compdef kel
# tools/completion/kel.zsh - zsh completion for the kel tool (installed as share/zsh/site-functions/_kel).

_kel() {
    local -a formats commands
    formats=(gzip zlib deflate lz4 bzip2 lzo lzss)
    commands=(
        'c:compress files (like gzip)'
        'd:decompress files (like gzip -d)'
        'demo:run every library family over the sample data'
        'find:print the byte offsets of a fixed string'
        'grep:print the lines that match a regular expression'
        'iconv:convert text between UTF-8 and UTF-16'
        'regex:list the node program of a pattern'
        'replace:replace regular-expression matches'
        'run:run a program with kel's zlib and libbz2'
        'sum:print checksums of files'
        'version:print the versions of kel and its libraries'
    )
    if (( CURRENT == 2 )); then
        _describe -t commands 'kel command' commands
        _arguments '--help[print the commands]' '--version[print the versions]'
        return
    fi
    local cmd=$words[2]
    shift words
    (( CURRENT-- ))
    case $cmd in
        c)
            _arguments -s \
                '(-f --format)'{-f+,--format=}'[container format]:format:($formats)' \
                '(-l --level)'{-l+,--level=}'[compression level]:level:(0 1 2 3 4 5 6 7 8 9)' \
                '(-l --level)'{-1,-2,-3,-4,-5,-6,-7,-8,-9}'[compression level]' \
                '--hc[lz4: high-compression encoder]' \
                '--linked[lz4: blocks refer to the data before them]' \
                '--fast[gzip, zlib, deflate: fastest mode]' \
                '(-T --threads)'{-T+,--threads=}'[threads]:threads:' \
                '(-c --stdout)'{-c,--stdout}'[write to standard output]' \
                '(-k --keep)'{-k,--keep}'[keep the input files]' \
                '(-F --force)'{-F,--force}'[overwrite outputs, follow links]' \
                '(- *)'{-h,--help}'[print the options]' \
                '*:file:_files'
            ;;
        d)
            _arguments -s \
                '(-c --stdout)'{-c,--stdout}'[write to standard output]' \
                '(-k --keep)'{-k,--keep}'[keep the input files]' \
                '(-f -F --force)'{-f,-F,--force}'[overwrite outputs, follow links]' \
                '-P[restore stored names with directories]' \
                '(-T --threads)'{-T+,--threads=}'[threads]:threads:' \
                '--format[read every input as this format]:format:($formats)' \
                '(- *)'{-h,--help}'[print the options]' \
                '*:file:_files -g "*.(gz|tgz|z|zz|zlib|deflate|lz4|bz2|lzo|lzss)(-.)"'
            ;;
        sum)
            _arguments \
                '(--adler32 --crc32 --crc32c --bzip2-crc)'{--adler32,--crc32,--crc32c,--bzip2-crc} \
                '--help[print the options]' '*:file:_files'
            ;;
        iconv)
            _arguments '--from[input encoding]:encoding:(utf-8 utf-16le utf-16be)' \
                '--to[output encoding]:encoding:(utf-8 utf-16le utf-16be)' '--help[print the options]' \
                '*:file:_files'
            ;;
        grep)
            _arguments -s \
                '*-e+[pattern]:pattern:' '-F[fixed strings]' '-i[ignore ASCII case]' '-w[whole words]' \
                '-x[whole lines]' '-v[select non-matching lines]' '-c[count selected lines]' \
                '-n[line numbers]' '-o[only the matched parts]' '-l[files with a match]' \
                '-L[files without a match]' '-H[with file names]' '-h[without file names]' '-q[quiet]' \
                '-s[no messages about unreadable files]' '-r[recursive]' '-R[recursive, following links]' \
                '-a[binary files as text]' '-I[binary files hold no match]' \
                '--color=-[highlight matches]::when:(never always auto)' '--help[print the options]' \
                '*:file:_files'
            ;;
        replace)
            _arguments '-g[replace every match]' '--help[print the options]' '1:pattern:' '2:template:' \
                '*:file:_files'
            ;;
        regex)
            _arguments '--dump[list the node program]' '--options[option letters]:letters:' \
                '--help[print the options]' '1:pattern:'
            ;;
        run)
            _arguments '--print[print the LD_PRELOAD value]' '--help[print the options]' '*::command:_normal'
            ;;
        demo)
            _arguments '--data[sample directory]:directory:_files -/' '--help[print the options]'
            ;;
        find)
            _arguments '1:pattern:' '*:file:_files'
            ;;
    esac
}

_kel "$@"
