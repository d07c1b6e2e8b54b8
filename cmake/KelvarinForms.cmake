# Embedding stored form data (.kfm) into the module that is being built.
