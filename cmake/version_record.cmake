# Gives a shared library its product version record. Filled in by the
# resources module; until then it does nothing.
function(quire_add_version_record target)
endfunction()
