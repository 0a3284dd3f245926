# The library's folders under engine/src/OrvexCommon/, in layer order from the
# bottom: a file includes only from its own folder or from one listed before
# it (checked by the include_layers test; docs/ARCHITECTURE.md says what each
# holds).
set(ORVEX_LAYERS base text platform memory filesystem log objects time math diag file format frame)
