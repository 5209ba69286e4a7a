# Bash completion for zentrove. Commands and task keys come from the program itself, so this file
# never needs to follow changes of the key table.

_zentrove_task_numbers() {
  zentrove list 2>/dev/null | cut -f1
}

_zentrove() {
  local cur prev words cword
  _init_completion || return

  local commands="help list show add set delete run archives verify restore option smtp-test --help --version"
  local command="" word
  for word in "${words[@]:1:cword-1}"; do
    case "$word" in
      service | localcfg) ;;
      *) command="$word"; break ;;
    esac
  done

  if [[ -z "$command" ]]; then
    COMPREPLY=($(compgen -W "$commands service localcfg" -- "$cur"))
    return
  fi

  case "$command" in
    help)
      COMPREPLY=($(compgen -W "keys" -- "$cur"))
      ;;
    list)
      COMPREPLY=($(compgen -W "--json" -- "$cur"))
      ;;
    show | archives)
      COMPREPLY=($(compgen -W "$(_zentrove_task_numbers) --json" -- "$cur"))
      ;;
    delete | verify)
      COMPREPLY=($(compgen -W "$(_zentrove_task_numbers)" -- "$cur"))
      ;;
    run)
      COMPREPLY=($(compgen -W "$(_zentrove_task_numbers) --quiet" -- "$cur"))
      ;;
    restore)
      if [[ "$prev" == "--to" ]]; then
        _filedir -d
      else
        COMPREPLY=($(compgen -W "$(_zentrove_task_numbers) --to --overwrite" -- "$cur"))
      fi
      ;;
    add | set)
      if [[ "$cur" != *=* ]]; then
        local keys
        keys=$(zentrove help keys 2>/dev/null | tail -n +2 | cut -d' ' -f1)
        compopt -o nospace
        COMPREPLY=($(compgen -W "$(_zentrove_task_numbers) $(printf '%s= ' $keys)" -- "$cur"))
      fi
      ;;
  esac
}

complete -F _zentrove zentrove
