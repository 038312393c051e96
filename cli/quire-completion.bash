# Bash completion for quire: report kinds, host options, report options,
# `quire area` subcommands and the names of the store's areas.
# Installed as share/bash-completion/completions/quire.

# The area names of the store, as `quire area list` gives them.
_quire_areas() {
  "$1" area list 2>/dev/null | sed -n 's/^\(.*\): [0-9][0-9]* markers\{0,1\}, .*$/\1/p'
}

# COMPREPLY from compgen with the given arguments, one candidate a line, so
# that file names with blanks stay whole.
_quire_reply() {
  mapfile -t COMPREPLY < <(compgen "$@")
}

_quire() {
  local cur=${COMP_WORDS[COMP_CWORD]} prev=${COMP_WORDS[COMP_CWORD-1]} program=${COMP_WORDS[0]}
  # The report kinds, as `quire --help` lists them (a test holds them to it).
  local kinds="mkhdr mkpc mkov mksplice mkmc mkmod model ordml"
  # The program's host options, and of them those whose value is the next
  # word (the usage text lists both; a test holds them to it).
  local host_options="--detailed --quiet --stop-after --changes --progress --no-progress --help"
  local valued_options="--stop-after --changes"
  # The options of `quire all` (the usage text lists them; a test holds them
  # to it).
  local all_options="--kinds --dbf --log --wait --detailed --changes --quiet --progress --no-progress --help"
  COMPREPLY=()
  if ((COMP_CWORD == 1)); then
    _quire_reply -W "$kinds all area --help --version" -- "$cur"
    return
  fi
  if [[ ${COMP_WORDS[1]} == area ]]; then
    if ((COMP_CWORD == 2)); then
      _quire_reply -W "import export list generate info rm check" -- "$cur"
      return
    fi
    case ${COMP_WORDS[2]} in
      import)
        case $prev in
          --units) _quire_reply -W "mm cm in" -- "$cur" ;;
          --area | --marker) ;;
          *) if [[ $cur == -* ]]; then _quire_reply -W "--area --units --marker" -- "$cur"
             else _quire_reply -f -- "$cur"; fi ;;
        esac ;;
      export | info | rm)
        if ((COMP_CWORD == 3)); then _quire_reply -W "$(_quire_areas "$program")" -- "$cur"
        else _quire_reply -f -- "$cur"; fi ;;
      check) ((COMP_CWORD == 3)) && _quire_reply -W "$(_quire_areas "$program")" -- "$cur" ;;
      generate)
        [[ $cur == -* ]] &&
          _quire_reply -W "--markers --models --orders --pieces-per-marker --seed" -- "$cur" ;;
    esac
    return
  fi
  if [[ ${COMP_WORDS[1]} == all ]]; then
    case $prev in
      --kinds)
        # A list separated by commas: the kind after the last comma.
        local listed=""
        [[ $cur == *,* ]] && listed=${cur%,*},
        _quire_reply -P "$listed" -W "$kinds" -- "${cur##*,}"
        return ;;
      --changes) _quire_reply -f -- "$cur"; return ;;
      --wait) return ;;
    esac
    if [[ $cur == -* ]]; then
      _quire_reply -W "$all_options" -- "$cur"
      return
    fi
    # The area, then the folder.
    local j words=0
    for ((j = 2; j < COMP_CWORD; j++)); do
      case ${COMP_WORDS[j]} in
        --kinds | --changes | --wait) ((j++)) ;;
        -?*) ;;
        *) ((words++)) ;;
      esac
    done
    if ((words == 0)); then _quire_reply -W "$(_quire_areas "$program")" -- "$cur"
    elif ((words == 1)); then _quire_reply -d -- "$cur"
    fi
    return
  fi
  case $prev in
    --stop-after) return ;;
    --changes) _quire_reply -f -- "$cur"; return ;;
  esac
  case $cur in
    --*) _quire_reply -W "$host_options" -- "$cur"; return ;;
    -L*) _quire_reply -f -P -L -- "${cur#-L}"; return ;;
    -*) _quire_reply -W "-L -S -E -N0 -N1" -- "$cur"; return ;;
  esac
  # The first argument that is no option is the area, the second the output.
  local i arguments=0
  for ((i = 2; i < COMP_CWORD; i++)); do
    if [[ " $valued_options " == *" ${COMP_WORDS[i]} "* ]]; then
      ((i++))
      continue
    fi
    case ${COMP_WORDS[i]} in
      -?*) ;;
      *) ((arguments++)) ;;
    esac
  done
  if ((arguments == 0)); then _quire_reply -W "$(_quire_areas "$program")" -- "$cur"
  elif ((arguments == 1)); then _quire_reply -f -- "$cur"
  fi
}

complete -o filenames -F _quire quire
