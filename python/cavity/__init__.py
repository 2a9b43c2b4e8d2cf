"""Python helpers that sit beside the cavity solver.

Reading of the solver's result files, the benchmark helpers used for
validation, the nanofluid property models, and the parts of the command
line tools that are worth testing on their own.
"""
