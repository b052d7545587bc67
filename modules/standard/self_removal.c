/* placeholder: being written */
