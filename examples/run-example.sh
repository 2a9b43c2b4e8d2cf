#!/bin/sh
# Runs the shipped example case in a scratch folder: run-example.sh CAVITY DIR
set -e
here=$(cd "$(dirname "$0")" && pwd)
mkdir -p "$2"
cp "$here/Input_Parameters.Input" "$2/"
cd "$2"
echo "Running the example in $PWD (the result files are written here)"
"$1" < "$here/console-answers.txt"
