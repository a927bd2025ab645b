# Turns the machine's apt sources (one-line .list and deb822 .sources files, given in
# order) into one-line entries for the private i386 configuration: the same mirrors,
# only the suites of this release (CODENAME, CODENAME-updates, -security ...), main
# only, and CODENAME-backports beside each mirror of CODENAME itself.
function emit(uri, suite, key,    line) {
  if (suite != codename && index(suite, codename "-") != 1) return
  sub(/\/+$/, "", uri)
  opts = (key != "" ? "[signed-by=" key "] " : "")
  line = "deb " opts uri " " suite " main"
  if (!(line in seen)) { seen[line] = 1; print line }
  if (suite == codename) emit(uri, codename "-backports", key)
}
function flush(    n, u, s, i, j, us, ss) {
  if (types ~ /(^| )deb( |$)/ && enabled != "no") {
    n = split(uris, us, /[ \t]+/)
    s = split(suites, ss, /[ \t]+/)
    for (i = 1; i <= n; i++) for (j = 1; j <= s; j++) if (us[i] != "" && ss[j] != "") emit(us[i], ss[j], signed)
  }
  types = uris = suites = signed = enabled = ""
}
FNR == 1 { flush(); deb822 = (FILENAME ~ /\.sources$/) }
deb822 && /^[ \t]*$/ { flush(); next }
deb822 && /^[A-Za-z-]+:/ {
  field = tolower($1); sub(/:$/, "", field)
  value = $0; sub(/^[^:]*:[ \t]*/, "", value)
  if (field == "types") types = value
  else if (field == "uris") uris = value
  else if (field == "suites") suites = value
  else if (field == "enabled") enabled = tolower(value)
  else if (field == "signed-by" && value ~ /^\//) signed = value
  next
}
deb822 { next }
/^[ \t]*deb[ \t]/ {
  key = ""; i = 2
  if ($2 ~ /^\[/) {
    while (i <= NF) {
      if ($i ~ /^\[?signed-by=/) { key = $i; sub(/^\[?signed-by=/, "", key); sub(/\]$/, "", key) }
      if ($i ~ /\]$/) { i++; break }
      i++
    }
  }
  emit($i, $(i + 1), key)
}
END { flush() }
