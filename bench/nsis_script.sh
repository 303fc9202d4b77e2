# The NSIS script that the benchmarks build their peer installers from: every
# file of a flat folder into the installation folder. Sourced.
#   nsis_script OUTPUT.EXE COMPRESSOR FOLDER [TARGET]   prints the script
nsis_script() {
  if [[ -n ${4:-} ]]; then echo "Target $4"; fi
  cat <<EOF
OutFile "$1"
SetCompressor $2
InstallDir "\$PROGRAMFILES\\Bench"
RequestExecutionLevel user
Section
SetOutPath \$INSTDIR
File /r "$3/*"
SectionEnd
EOF
}
