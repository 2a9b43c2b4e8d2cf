#!/bin/sh
# Runs the shipped example case in a scratch folder: run-example.sh CAVITY DIR
set -e
here=$(cd "$(dirname "$0")" && pwd)
# a path to the program holds from the scratch folder too
case $1 in
  /*) program=$1 ;;
  */*) program=$(cd "$(dirname "$1")" && pwd)/$(basename "$1") ;;
  *) program=$1 ;;
esac
mkdir -p "$2"
cp "$here/Input_Parameters.Input" "$2/"
cd "$2"
echo "Running the example in $PWD (the result files are written here)"
"$program" < "$here/console-answers.txt"
