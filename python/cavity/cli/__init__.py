"""The command line tools: each module's main() is one console script."""
