# Makes the single-file page: index.html with its style sheet, scripts, the worker (with the
# module's script) and the module's bytes in base64 written into it, so it runs when opened from
# disk.
# cmake -DPAGE=folder -DMODULE=skm2trn.js -DWASM=skm2trn.wasm.base64 -DOUTPUT=file.html -P Inline.cmake
file(READ ${PAGE}/index.html html)
file(READ ${PAGE}/style.css css)
file(READ ${PAGE}/fflate.js fflate)
file(READ ${PAGE}/app.js app)
file(READ ${PAGE}/worker.js worker)
file(READ ${MODULE} module)
file(READ ${WASM} wasm)

foreach(part fflate app worker module)
  string(FIND "${${part}}" "</script" at)
  if(NOT at EQUAL -1)
    message(FATAL_ERROR "${part} holds </script and cannot be inlined")
  endif()
endforeach()

# The worker runs from a blob made of the module's script followed by worker.js, which then finds
# createSkmModule defined instead of importing it.
set(worker_tag "<script type=\"text/plain\" id=\"worker-source\">\n${module}\n${worker}</script>")
# The page compiles the module from these bytes once and hands it to every worker.
string(APPEND worker_tag "\n<script type=\"text/plain\" id=\"wasm-source\">${wasm}</script>")

# A function, not a macro: a macro would expand the ${...} of the scripts' template strings.
function(swap tag replacement)
  string(FIND "${html}" "${tag}" at)
  if(at EQUAL -1)
    message(FATAL_ERROR "index.html lacks ${tag}")
  endif()
  string(REPLACE "${tag}" "${replacement}" html "${html}")
  set(html "${html}" PARENT_SCOPE)
endfunction()
swap("<link rel=\"stylesheet\" href=\"style.css\">" "<style>\n${css}</style>")
swap("<script src=\"fflate.js\"></script>" "<script>\n${fflate}</script>")
swap("<script src=\"app.js\"></script>" "${worker_tag}\n<script>\n${app}</script>")
file(WRITE ${OUTPUT} "${html}")
