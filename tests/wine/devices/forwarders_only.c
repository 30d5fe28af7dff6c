/* A stand-in DLL is its module-definition file alone: every export forwards. */
