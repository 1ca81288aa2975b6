# bash completion for marrowtide-img                       -*- shell-script -*-
# The commands, options and format names follow marrowtide-img --help.

_marrowtide_img()
{
    local cur prev words cword split
    _init_completion -s -n : || return

    # Image files carry the extension of their diskette format, or .mwi; the commands that read
    # an image also read other programs' (ImageDisk, TeleDisk, CopyQM).
    local images='@(288|144|120|720|360|168|172|320|180|160|mwi)'
    local inputs='@(288|144|120|720|360|168|172|320|180|160|mwi|imd|td0|cqm)'

    case $prev in
        --mode)
            COMPREPLY=($(compgen -W 'good fast auto' -- "$cur"))
            return
            ;;
        --threshold | --each | --retries | -h | --help | --version)
            return
            ;;
        --log)
            _filedir csv
            return
            ;;
        --map)
            _filedir
            return
            ;;
        --dat)
            _filedir dat
            return
            ;;
        --format)
            COMPREPLY=($(compgen -W '2.88MB 1.44MB 1.2MB 720KB 360KB 1.68MB 1.72MB 320KB 180KB 160KB' -- "$cur"))
            return
            ;;
        -o | --output)
            # catalog writes one DAT file; the others write into a folder.
            if [[ ${words[1]} == catalog ]]; then
                _filedir dat
            else
                _filedir -d
            fi
            return
            ;;
    esac
    $split && return

    if ((cword == 1)); then
        if [[ $cur == -* ]]; then
            COMPREPLY=($(compgen -W '-h --help --version' -- "$cur"))
        else
            COMPREPLY=($(compgen -W 'pack unpack advise info drive format export read write verify ls extract mount catalog check' -- "$cur"))
        fi
        return
    fi

    # Count the words before the cursor that are not options, and whether -o was given.
    local command=${words[1]} i args=0 output=false json=false ended=false
    for ((i = 2; i < cword; i++)); do
        if $ended; then
            ((args++))
            continue
        fi
        case ${words[i]} in
            --) ended=true ;;
            --mode | --threshold | --each | --log | --format | --dat | --retries | --map) ((i++)) ;;
            --json) json=true ;;
            -o | --output) output=true && ((i++)) ;;
            -o?* | --output=*) output=true ;;
            -*) ;;
            *) ((args++)) ;;
        esac
    done

    if ! $ended && [[ $cur == -* ]]; then
        local options='-h --help'
        case $command in
            pack) options+=' --mode --threshold -o --output -c --stdout -q --quiet -f --force' ;;
            unpack) options+=' -o --output -c --stdout -q --quiet -f --force --exact-size' ;;
            advise) options+=' --threshold' ;;
            info) options+=' --hash --json' ;;
            catalog) options+=' -o --output -f --force -q --quiet' ;;
            check) options+=' --dat' ;;
            export) options+=' -c --stdout -f --force' ;;
            read) options+=' -y --yes -f --force -q --quiet --mode --each --log --format --rescue --retries --map' ;;
            write) options+=' -y --yes -q --quiet --convert' ;;
            verify) options+=' -y --yes -q --quiet' ;;
            ls) options+=' --deleted --json' ;;
            extract) options+=' -o --output -q --quiet -f --force' ;;
            mount) options+=' -q --quiet' ;;
            drive) ((args == 1)) && [[ ${words[2]} != list ]] && options+=' --clear' ;;
            format) options+=' -f --force' ;;
        esac
        COMPREPLY=($(compgen -W "$options" -- "$cur"))
        return
    fi

    case $command in
        pack)
            # pack RAW IMAGE, or RAW... -o DIR
            if ! $output && ((args == 1)); then
                _filedir "$images"
            else
                _filedir
            fi
            ;;
        unpack)
            # unpack IMAGE RAW, or IMAGE... -o DIR
            if $output || ((args == 0)); then
                _filedir "$inputs"
            else
                _filedir
            fi
            ;;
        advise)
            ((args == 0)) && _filedir
            ;;
        info)
            # info IMAGE; info --json IMAGE-OR-RAW...
            if $json; then
                _filedir
            elif ((args == 0)); then
                _filedir "$inputs"
            fi
            ;;
        catalog | check)
            # images or raw dumps, as many as there are
            _filedir
            ;;
        export)
            # export IMAGE ARCHIVE
            if ((args == 0)); then
                _filedir "$inputs"
            elif ((args == 1)); then
                _filedir
            fi
            ;;
        drive)
            # drive list, drive LETTER PATH, drive LETTER --clear
            if ((args == 0)); then
                COMPREPLY=($(compgen -W 'list A B' -- "$cur"))
            elif ((args == 1)) && [[ ${words[2]} != list ]]; then
                _filedir
            fi
            ;;
        read)
            # read DRIVE [IMAGE]
            if ((args == 0)); then
                COMPREPLY=($(compgen -W 'A B' -- "$cur"))
            elif ((args == 1)); then
                _filedir "$images"
            fi
            ;;
        write | verify)
            # write IMAGE DRIVE, verify IMAGE DRIVE
            if ((args == 0)); then
                _filedir "$inputs"
            elif ((args == 1)); then
                COMPREPLY=($(compgen -W 'A B' -- "$cur"))
            fi
            ;;
        ls)
            # ls IMAGE...: images or raw dumps
            _filedir
            ;;
        extract)
            # extract IMAGE [PATTERN...]: patterns are the user's own
            ((args == 0)) && _filedir
            ;;
        mount)
            # mount IMAGE DIR
            if ((args == 0)); then
                _filedir
            elif ((args == 1)); then
                _filedir -d
            fi
            ;;
        format)
            if ((args == 0)); then
                COMPREPLY=($(compgen -W '2.88MB 1.44MB 1.2MB 720KB 360KB 1.68MB 1.72MB 320KB 180KB 160KB' -- "$cur"))
            elif ((args == 1)); then
                _filedir
            fi
            ;;
    esac
} &&
    complete -F _marrowtide_img marrowtide-img

# ex: filetype=sh
